#include "link/wait.h"

#include "link/clock.h"

#include <QCoreApplication>

void Stopwatch::restart()
{
    m_startNs = m_clock.nowNs();
}

qint64 Stopwatch::clockNs() const
{
    return m_clock.nowNs();
}

qint64 Stopwatch::elapsedNs() const
{
    return m_clock.nowNs() - m_startNs;
}

bool Stopwatch::runningFor(qint32 ms)
{
    const bool waiting = m_clock.nowNs() - m_startNs < qint64(ms) * 1000000;
    QCoreApplication::processEvents();
    return waiting;
}

void Stopwatch::wait(qint32 ms)
{
    waitUntil(ms, nullptr);
}

bool Stopwatch::waitUntil(qint32 ms, const std::function<bool()> &done)
{
    restart();
    // The start is shared: a wait nested in this one moves it, and so moves
    // this wait's deadline; it is read afresh on every turn.
    while (runningFor(ms) && !m_abandoned) {
        if (done && done())
            return true;
        m_clock.idleUntilNs(m_startNs + qint64(ms) * 1000000);
    }
    return false;
}
