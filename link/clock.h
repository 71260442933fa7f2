#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <functional>
#include <map>

// A monotonic millisecond clock that the waits and the simulated installation
// share. The steady clock is real time; the manual clock is virtual time that
// jumps ahead whenever the program would otherwise sit idle, so checks that
// take seconds of fixed waits run in an instant under test.
class Clock
{
public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary fixed start; never goes back, never wraps.
    virtual qint64 now() const = 0;
    // The same reading in nanoseconds, for waits that must not gain or lose
    // a fraction of a millisecond each time.
    virtual qint64 nowNs() const { return now() * 1000000; }
    // Blocks in the event loop until at least one event has been handled or
    // the deadline (in nanoseconds) has come, whichever is first; returns at
    // once if it has.
    virtual void idleUntilNs(qint64 deadlineNs) = 0;
    // Runs fn once the clock reaches `at`, unless `context` is destroyed first.
    virtual void callAt(qint64 at, QObject *context, std::function<void()> fn) = 0;
};

class SteadyClock : public Clock
{
public:
    SteadyClock() { m_elapsed.start(); }
    qint64 now() const override { return m_elapsed.elapsed(); }
    qint64 nowNs() const override { return m_elapsed.nsecsElapsed(); }
    void idleUntilNs(qint64 deadlineNs) override;
    void callAt(qint64 at, QObject *context, std::function<void()> fn) override;

private:
    QElapsedTimer m_elapsed;
};

class ManualClock : public Clock
{
public:
    explicit ManualClock(qint64 start = 0) : m_now(start) {}
    qint64 now() const override { return m_now; }
    // Handles pending events, then jumps to the earliest of the deadline and
    // the next scheduled call, and runs the calls that are due.
    void idleUntilNs(qint64 deadlineNs) override;
    void callAt(qint64 at, QObject *context, std::function<void()> fn) override;
    // Moves time forward by ms, running every call that falls due on the way.
    void advance(qint64 ms);
    bool hasPending() const { return !m_calls.empty(); }

private:
    struct Call
    {
        QPointer<QObject> context;
        bool hadContext;
        std::function<void()> fn;
    };
    void runDue();
    qint64 m_now;
    std::multimap<qint64, Call> m_calls;
};
