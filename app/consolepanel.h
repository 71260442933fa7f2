#pragma once

#include "checks/operatorpanel.h"

// The operator panel of the headless check: every line of the message log goes
// to standard output as UTF-8 with LF, and the block list has one fixed
// selection. There are no buttons to enable; a run ends when its procedure
// returns.
class ConsolePanel : public OperatorPanel
{
public:
    explicit ConsolePanel(int blockListIndex = -1);

    void addMessage(const QString &text) override;
    void setButtonEnabled(Button button, bool enabled) override;
    int blockListIndex() const override { return m_blockListIndex; }

    void setBlockListIndex(int index) { m_blockListIndex = index; }
    // A check cut short goes on to its end without its port: what it would
    // still say is no verdict, and is not written.
    void silence() { m_silent = true; }

private:
    int m_blockListIndex;
    bool m_silent = false;
};
