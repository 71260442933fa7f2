#pragma once

#include <QtGlobal>

class Clock;

// The millisecond stopwatch of the main window and the wait built on it.
// One StartTick per window is shared by every wait: a wait that begins while
// another one runs (from a handler nested in it) restarts the other's measure.
class Stopwatch
{
public:
    explicit Stopwatch(Clock &clock) : m_clock(clock) {}

    void StartTime();
    // True while fewer than tm ms have passed since the last StartTime;
    // handles all pending events once before it returns, whatever the result.
    bool WaitA(qint32 tm);
    // Returns once at least wai ms have passed since it began; handles pending
    // events at least once, even for 0 or a negative time. Between turns it
    // sleeps in the event loop instead of polling.
    void Wait(qint32 wai);

    // The window is closing: every wait under way, and every later one,
    // returns as soon as it has handled pending events.
    void abandon() { m_abandoned = true; }
    bool abandoned() const { return m_abandoned; }

    qint64 StartTick = 0;   // ms

private:
    qint64 m_startNs = 0;   // the same moment to the nanosecond: waits measure from here
    Clock &m_clock;
    bool m_abandoned = false;
};
