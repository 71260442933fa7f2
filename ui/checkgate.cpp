#include "ui/checkgate.h"

#include <QAction>
#include <QWidget>

void CheckGate::guard(QWidget *control)
{
    m_widgets << control;
}

void CheckGate::guard(QAction *control)
{
    m_actions << control;
}

bool CheckGate::run(const std::function<void()> &check)
{
    if (m_busy)
        return false;
    m_busy = true;
    enableGuarded(false);
    struct Reopen
    {
        CheckGate &gate;
        ~Reopen()
        {
            gate.m_busy = false;
            gate.enableGuarded(true);
        }
    } reopen{*this};
    check();
    return true;
}

void CheckGate::enableGuarded(bool enabled)
{
    for (const QPointer<QWidget> &widget : std::as_const(m_widgets))
        if (widget)
            widget->setEnabled(enabled);
    for (const QPointer<QAction> &action : std::as_const(m_actions))
        if (action)
            action->setEnabled(enabled);
}
