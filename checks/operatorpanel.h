#pragma once

#include <QString>

// What the checks need of the operator's window: a line in the message log,
// the enabled state of their own buttons, and the selected block position.
class OperatorPanel
{
public:
    enum class Button { LinkTest, BlockCheck };

    virtual ~OperatorPanel() = default;
    virtual void addMessage(const QString &text) = 0;
    virtual void setButtonEnabled(Button button, bool enabled) = 0;
    // Position of the selected entry of the block list, -1 when none.
    virtual int blockListIndex() const = 0;
};
