#pragma once

#include "checks/operatorpanel.h"

// The operator panel of the headless check: every line of the message log goes
// to standard output as UTF-8 with LF. There are no buttons to enable; a run
// ends when its procedure returns.
class ConsolePanel : public OperatorPanel
{
public:
    void addMessage(const QString &text) override;
    void setButtonEnabled(Button button, bool enabled) override;
    // A check cut short goes on to its end without its port: what it would
    // still say is no verdict, and is not written.
    void silence() { m_silent = true; }

private:
    bool m_silent = false;
};
