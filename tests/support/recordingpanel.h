#pragma once

#include "checks/operatorpanel.h"

#include <QStringList>

// The operator's side played in-process, as the simulated installation plays the line's: a panel
// that remembers every line and the buttons' states.
class RecordingPanel : public OperatorPanel
{
public:
    void addMessage(const QString &text) override { lines << text; }
    void setButtonEnabled(Button button, bool enabled) override
    {
        (button == Button::LinkTest ? linkTestEnabled : blockCheckEnabled) = enabled;
    }

    QStringList lines;
    bool linkTestEnabled = true;
    bool blockCheckEnabled = true;
};
