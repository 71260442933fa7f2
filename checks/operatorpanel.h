#pragma once

#include <QString>

// What the checks need of the operator's window: a line in the message log and their buttons' state.
class OperatorPanel
{
public:
    enum class Button { LinkTest, BlockCheck };

    virtual ~OperatorPanel() = default;
    virtual void addMessage(const QString &text) = 0;
    virtual void setButtonEnabled(Button button, bool enabled) = 0;
};
