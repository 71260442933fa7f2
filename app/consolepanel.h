#pragma once

#include "checks/operatorpanel.h"

#include <cstdio>

// The operator panel of the headless check: every line of the message log goes
// to a stream (standard output; none: nowhere) as UTF-8 with LF, and the block list has one
// fixed selection. There are no buttons to enable; a run ends when its
// procedure returns.
class ConsolePanel : public OperatorPanel
{
public:
    explicit ConsolePanel(int blockListIndex = -1, std::FILE *out = stdout);

    void addMessage(const QString &text) override;
    void setButtonEnabled(Button button, bool enabled) override;
    int blockListIndex() const override { return m_blockListIndex; }

    void setBlockListIndex(int index) { m_blockListIndex = index; }

private:
    std::FILE *m_out;
    int m_blockListIndex;
};
