#pragma once

#include "link/serialport.h"
#include "sim/querylines.h"
#include "sim/simulatedinstallation.h"

#include <limits>

class Clock;

// A serial port whose far end is a simulated installation, in-process. Replies arrive byte by byte over
// the clock at the port's baud rate (10 bits a byte), so the program sees them as it would on a line.
// Any device name opens, unless the installation's adapter is unplugged.
class SimulatedPort : public SerialPort
{
    Q_OBJECT
public:
    SimulatedPort(SimulatedInstallation &installation, Clock &clock, QObject *parent = nullptr);

    bool open(const QString &device, qint32 baudRate) override;
    void close() override;
    bool isOpen() const override;
    bool setBaudRate(qint32 baudRate) override;
    qsizetype bytesWaiting() override;
    void write(const QByteArray &bytes) override;
    bool dsr() override;
    bool cts() override;

    // What the PC has written since the port opened (tests read it), at least its last kWrittenKept
    // bytes: a night of simulated rounds keeps no more.
    static constexpr qsizetype kWrittenKept = 65536;
    const QByteArray &written() const { return m_written; }
    void clearWritten() { m_written.clear(); }
    int openCount() const { return m_openCount; }
    // Bytes reach the PC's receive buffer now, as if carried by the line (a hand-played installation, noise).
    void arrive(const QByteArray &bytes);
    // The port refuses rates above this one, opening or open (a built-in port has nothing above 115200).
    void setHighestRate(qint32 baudRate) { m_highestRate = baudRate; }
    // The adapter goes away (or comes back) now: an open port is lost.
    void setUnplugged(bool unplugged);

private:
    void deliver(const QByteArray &bytes, qint64 startAt);
    void receiveInFlight(char byte, quint64 generation);
    void discardInFlight();
    void checkLost();

    SimulatedInstallation &m_installation;
    Clock &m_clock;
    bool m_open = false;
    qint32 m_highestRate = std::numeric_limits<qint32>::max();
    QByteArray m_written;
    QueryLines m_queries;
    int m_openCount = 0;
    quint64 m_generation = 0;   // bumps on every open and close: bytes in flight are lost
    qint64 m_busyUntil = 0;     // replies queue on the line: one ends before the next begins
};
