#include "link/clock.h"

#include <QCoreApplication>
#include <QTimer>

SteadyClock::SteadyClock()
{
    m_elapsed.start();
}

qint64 SteadyClock::now() const
{
    return m_elapsed.elapsed();
}

qint64 SteadyClock::nowRoundedUp() const
{
    return (m_elapsed.nsecsElapsed() + 999999) / 1000000;
}

void SteadyClock::idleUntil(qint64 deadline)
{
    const qint64 remaining = deadline - now();
    if (remaining <= 0)
        return;
    // A timer armed for the deadline wakes the event loop if nothing else does.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(int(qMin<qint64>(remaining, std::numeric_limits<int>::max())));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void SteadyClock::callAt(qint64 at, QObject *context, std::function<void()> fn)
{
    const qint64 delay = qMax<qint64>(0, at - now());
    QTimer::singleShot(std::chrono::milliseconds(delay), Qt::PreciseTimer, context, std::move(fn));
}

void ManualClock::idleUntil(qint64 deadline)
{
    QCoreApplication::processEvents();
    runDue();
    qint64 next = deadline;
    if (!m_calls.empty())
        next = qMin(next, m_calls.begin()->first);
    if (next > m_now)
        m_now = next;
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
