#pragma once

#include <QList>
#include <QPointer>
#include <functional>

// One check at a time. Every check waits on the line in a nested event loop,
// where another check, or a reopening of the port, would take its reply away.
// While a check runs, the controls that start one (and the port settings) are
// disabled; they are enabled again when it ends, however it ends.
class CheckGate
{
public:
    // A widget or a menu item: Qt gives both their "enabled" property.
    void guard(QObject *control) { m_controls << control; }
    // Leaves the control as it is set from now on.
    void release(QObject *control) { m_controls.removeAll(control); }

    bool busy() const { return m_busy; }
    // Runs check unless another one is under way; false when it did not run.
    bool run(const std::function<void()> &check);
    // As run(), but the check starts from context's event loop once the caller's handler has returned: a
    // menu item's activation, an accessibility client's too, is answered at once. The gate closes now.
    bool runSoon(QObject *context, const std::function<void()> &check);

private:
    void setBusy(bool busy);

    QList<QPointer<QObject>> m_controls;
    bool m_busy = false;
};
