#include "link/wait.h"

#include "link/clock.h"

#include <QCoreApplication>

void Stopwatch::StartTime()
{
    StartTick = m_clock.nowRoundedUp();
}

bool Stopwatch::WaitA(qint32 tm)
{
    const qint64 elapsed = m_clock.now() - StartTick;
    const bool waiting = elapsed < tm;
    QCoreApplication::processEvents();
    return waiting;
}

void Stopwatch::Wait(qint32 wai)
{
    StartTime();
    // StartTick is shared: a wait nested in this one moves it, and so moves
    // this wait's deadline; it is read afresh on every turn.
    while (WaitA(wai) && !m_abandoned)
        m_clock.idleUntil(StartTick + wai);
}
