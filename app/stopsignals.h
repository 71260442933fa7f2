#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

// SIGINT, SIGTERM and SIGHUP, carried from the signal handler into the event
// loop through a pipe. The checks' waits handle events, so whoever runs a
// check hears of the signal there, where the port can be closed through its
// normal path (which gives the device back its settings). Every later signal
// is heard the same way; caught() keeps the first. Nothing is caught on Windows.
class StopSignals : public QObject
{
public:
    explicit StopSignals(std::function<void(int signal)> onStop);
    ~StopSignals() override;

    // The signal that came, 0 while none has.
    int caught() const { return m_caught; }
    // The exit status for it, as a shell gives a program killed by it: 128 + the number.
    int exitStatus() const { return 128 + m_caught; }
    // "SIGTERM" and the like.
    QString name() const;

private:
    void takeSignal();

    std::function<void(int)> m_onStop;
    QSocketNotifier *m_notifier = nullptr;
    int m_caught = 0;
};
