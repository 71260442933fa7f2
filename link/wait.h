#pragma once

#include "link/clock.h"

#include <functional>

// The millisecond stopwatch of the checks and the wait built on it. One
// stopwatch is shared by every wait of a window: a wait that begins while
// another one runs (from a handler nested in it) restarts the other's measure.
class Stopwatch
{
public:
    explicit Stopwatch(Clock &clock) : m_clock(clock) {}

    void restart() { m_startNs = m_clock.nowNs(); }
    // The time of the last restart, in ms of the clock.
    qint64 startTick() const { return m_startNs / 1000000; }
    // The clock's reading, in nanoseconds.
    qint64 clockNs() const { return m_clock.nowNs(); }
    // Time since the last restart, in nanoseconds.
    qint64 elapsedNs() const { return m_clock.nowNs() - m_startNs; }
    // True while fewer than ms have passed since the last restart; handles
    // all pending events once before it returns, whatever the result.
    bool runningFor(qint32 ms);
    // Returns once at least ms have passed since it began; handles pending
    // events at least once, even for 0 or a negative time. Between turns it
    // sleeps in the event loop instead of polling.
    void wait(qint32 ms) { waitUntil(ms, nullptr); }
    // As wait(), but returns as soon as done() holds, asked once more after
    // each turn of the event loop; tells whether it did before the time ran out.
    bool waitUntil(qint32 ms, const std::function<bool()> &done);

    // The window is closing: every wait under way, and every later one,
    // returns as soon as it has handled pending events.
    void abandon() { m_abandoned = true; }
    bool abandoned() const { return m_abandoned; }

private:
    qint64 m_startNs = 0;   // waits measure from here, to the nanosecond
    Clock &m_clock;
    bool m_abandoned = false;
};
