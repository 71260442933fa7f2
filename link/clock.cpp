#include "link/clock.h"

#include <QCoreApplication>
#include <QTimer>

void SteadyClock::idleUntilNs(qint64 deadlineNs)
{
    const qint64 remainingNs = deadlineNs - nowNs();
    if (remainingNs <= 0)
        return;
    // A timer armed for the deadline wakes the event loop if nothing else does.
    // Timers count whole milliseconds and the system rounds their timeout up,
    // so the timer is set to the whole milliseconds left; the last fraction of
    // one passes in turns that only handle what is pending.
    const qint64 wholeMs = remainingNs / 1000000;
    if (wholeMs == 0) {
        QCoreApplication::processEvents();
        return;
    }
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(int(qMin<qint64>(wholeMs, std::numeric_limits<int>::max())));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void SteadyClock::callAt(qint64 at, QObject *context, std::function<void()> fn)
{
    const qint64 delay = qMax<qint64>(0, at - now());
    QTimer::singleShot(std::chrono::milliseconds(delay), Qt::PreciseTimer, context, std::move(fn));
}

void ManualClock::idleUntilNs(qint64 deadlineNs)
{
    const qint64 deadline = (deadlineNs + 999999) / 1000000;
    QCoreApplication::processEvents();
    runDue();
    const qint64 next = m_calls.empty() ? deadline : qMin(deadline, m_calls.begin()->first);
    m_now = qMax(m_now, next);
    runDue();
}

void ManualClock::callAt(qint64 at, QObject *context, std::function<void()> fn)
{
    m_calls.emplace(at, Call{QPointer<QObject>(context), context != nullptr, std::move(fn)});
}

void ManualClock::advance(qint64 ms)
{
    const qint64 target = m_now + qMax<qint64>(0, ms);
    while (!m_calls.empty() && m_calls.begin()->first <= target) {
        m_now = qMax(m_now, m_calls.begin()->first);
        runDue();
    }
    m_now = target;
}

void ManualClock::runDue()
{
    // A call may schedule further calls; take them in time order, one at a time.
    while (!m_calls.empty() && m_calls.begin()->first <= m_now) {
        auto it = m_calls.begin();
        Call call = std::move(it->second);
        m_calls.erase(it);
        if (call.hadContext && !call.context)
            continue;
        call.fn();
    }
}
