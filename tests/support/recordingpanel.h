#pragma once

#include "checks/operatorpanel.h"

#include <QStringList>

// An operator panel that remembers every line and the buttons' states.
class RecordingPanel : public OperatorPanel
{
public:
    void AddMessage(const QString &text) override { lines << text; }
    void setButtonEnabled(Button button, bool enabled) override
    {
        (button == Button::StartTest ? startTestEnabled : blockCheckEnabled) = enabled;
    }
    int blockListIndex() const override { return listIndex; }

    QStringList lines;
    bool startTestEnabled = true;
    bool blockCheckEnabled = true;
    int listIndex = 0;
};
