#include "link/wait.h"

#include <QCoreApplication>

bool Stopwatch::runningFor(qint32 ms)
{
    const bool waiting = m_clock.nowNs() - m_startNs < qint64(ms) * 1000000;
    QCoreApplication::processEvents();
    return waiting;
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
