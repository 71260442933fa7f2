#include "link/wait.h"

#include "link/clock.h"

#include <QCoreApplication>

void Stopwatch::StartTime()
{
    m_startNs = m_clock.nowNs();
    StartTick = m_startNs / 1000000;
}

bool Stopwatch::WaitA(qint32 tm)
{
    const bool waiting = m_clock.nowNs() - m_startNs < qint64(tm) * 1000000;
    QCoreApplication::processEvents();
    return waiting;
}

void Stopwatch::Wait(qint32 wai)
{
    StartTime();
    // The start is shared: a wait nested in this one moves it, and so moves
    // this wait's deadline; it is read afresh on every turn.
    while (WaitA(wai) && !m_abandoned)
        m_clock.idleUntilNs(m_startNs + qint64(wai) * 1000000);
}
