#include "ui/checkgate.h"

#include <QScopeGuard>
#include <QTimer>

bool CheckGate::run(const std::function<void()> &check)
{
    if (m_busy)
        return false;
    setBusy(true);
    const auto reopen = qScopeGuard([this] { setBusy(false); });
    check();
    return true;
}

bool CheckGate::runSoon(QObject *context, const std::function<void()> &check)
{
    if (m_busy)
        return false;
    setBusy(true);
    QTimer::singleShot(0, context, [this, check] {
        const auto reopen = qScopeGuard([this] { setBusy(false); });
        check();
    });
    return true;
}

void CheckGate::setBusy(bool busy)
{
    m_busy = busy;
    for (const QPointer<QObject> &control : std::as_const(m_controls))
        if (control)
            control->setProperty("enabled", !busy);
}
