#include "ui/checkgate.h"

#include <QAction>
#include <QTimer>
#include <QWidget>

void CheckGate::guard(QWidget *control)
{
    m_widgets << control;
}

void CheckGate::guard(QAction *control)
{
    m_actions << control;
}

bool CheckGate::close()
{
    if (m_busy)
        return false;
    m_busy = true;
    enableGuarded(false);
    return true;
}

void CheckGate::reopen()
{
    m_busy = false;
    enableGuarded(true);
}

namespace {
// Opens the gate again when the check ends, however it ends.
struct Reopening
{
    std::function<void()> reopen;
    ~Reopening() { reopen(); }
};
} // namespace

bool CheckGate::run(const std::function<void()> &check)
{
    if (!close())
        return false;
    const Reopening reopening{[this] { reopen(); }};
    check();
    return true;
}

bool CheckGate::runSoon(QObject *context, const std::function<void()> &check)
{
    if (!close())
        return false;
    QTimer::singleShot(0, context, [this, check] {
        const Reopening reopening{[this] { reopen(); }};
        check();
    });
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
