#pragma once

#include "checks/checksession.h"
#include "link/clock.h"
#include "link/settings.h"
#include "link/qtserialport.h"
#include "sim/querylines.h"
#include "sim/simulatedinstallation.h"
#include "testsupport.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <functional>

// The far end of a pseudo-terminal, played inside the test's event loop: the
// program opens the slave (/dev/pts/N) as its COM1, and this fixture, on the
// master, answers for the installation, or sends whatever bytes a test asks
// for. It records everything the program wrote. Pulling the master out
// (unplug) is what the program sees when a USB adapter is pulled.
class PtyFixture : public QObject
{
    Q_OBJECT
public:
    // COM1 of this store is mapped to the slave at every plug().
    explicit PtyFixture(SettingsStore &store, QObject *parent = nullptr);
    ~PtyFixture() override;

    // Opens a new pair, raw both ways, and maps COM1 (and COM=1) to its slave.
    bool plug();
    // The device goes away: the master is closed and nothing more is sent.
    void unplug();
    bool plugged() const { return m_master >= 0; }
    QString devicePath() const { return m_slavePath; }
    QString errorString() const { return m_error; }

    // Who answers the program's lines. The installation's DSR and CTS go to
    // the modem line shim (when it is loaded) each time the scenario is set.
    SimulatedInstallation &installation() { return m_installation; }
    void setScenario(const Scenario &scenario);
    // Off: the installation says nothing; lines are still recorded and passed to onLine.
    void setAnswering(bool answering) { m_answering = answering; }
    // Answers only while the program's side runs at this rate (0: at any);
    // at any other rate the installation's bytes come out as line noise.
    void answerOnlyAt(qint32 baudRate) { m_onlyAtRate = baudRate; }
    // The rate the program set on its side, read from the slave; -1 when not a standard one.
    qint32 lineRate() const;
    // Sees each line the program sends (without its line end) before the
    // installation does; returning true keeps the installation from answering it.
    std::function<bool(const QByteArray &line)> onLine;

    // Raw bytes to the program, now or after delayMs; queued while the line is full.
    void send(const QByteArray &bytes);
    void sendLater(int delayMs, const QByteArray &bytes);
    // Bytes handed to send() that the line has not taken yet.
    qsizetype pendingOutput() const { return m_out.size(); }

    const QByteArray &written() const { return m_written; }
    void clearWritten() { m_written.clear(); }

    // Runs the event loop until cond holds or timeoutMs has passed.
    static bool waitFor(const std::function<bool()> &cond, int timeoutMs);

    // The slave as the fixture holds it open, for ioctls a test makes itself.
    int slaveFd() const { return m_slave; }

private:
    void readMaster();
    void flushOut();
    void handleLine(const QByteArray &line);
    void closeAll();

    SettingsStore &m_store;
    SimulatedInstallation m_installation;
    bool m_answering = true;
    qint32 m_onlyAtRate = 0;
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QString m_error;
    QPointer<QObject> m_plugLife;   // parent of everything that dies with the pair
    quint64 m_generation = 0;       // bumps at every unplug
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QByteArray m_out;
    QByteArray m_written;
    QueryLines m_queries;
};

// A whole check over the real serial port layer, in real time: the program's
// side (port, panel, the session of the checks) against a fixture on a fresh pair.
struct PtyBench
{
    TempStore store;
    PtyFixture line {*store};
    SteadyClock clock;
    QtSerialPort port;
    RecordingPanel panel;
    CheckSession session {port, *store, clock, panel};
    CheckState &state = session.state();
    Stopwatch &wait = session.stopwatch();
    LineTests &tests = session.tests();
    int lost = 0;   // losses the port announced

    PtyBench()
    {
        QObject::connect(&port, &SerialPort::lost, &port, [this] { ++lost; });
    }
    // Plugs the line in and opens it as the program does at start.
    bool open()
    {
        if (!line.plug())
            return false;
        return session.openPort(Settings::load(*store));
    }
};
