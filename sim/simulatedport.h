#pragma once

#include "link/serialport.h"
#include "sim/simulatedinstallation.h"

class Clock;

// A serial port whose far end is a simulated installation, in-process.
// Replies arrive byte by byte over the clock at the port's baud rate
// (10 bits a byte), so the program sees them exactly as it would on a line.
class SimulatedPort : public SerialPort
{
    Q_OBJECT
public:
    SimulatedPort(SimulatedInstallation &installation, Clock &clock, QObject *parent = nullptr);

    bool PortOpen() const override;
    bool setPortOpen(bool open) override;
    qint16 CommPort() const override { return m_commPort; }
    bool setCommPort(qint16 port) override;
    QString Settings() const override { return m_settings; }
    bool setSettings(const QString &settings) override;
    void setHandshaking(qint32) override {}
    void setRThreshold(qint16) override {}
    qint32 InputMode() const override { return m_inputMode; }
    void setInputMode(qint32 mode) override { m_inputMode = mode; }
    void setInBufferSize(qint16 size) override { m_inBufferSize = size; }
    void setInputLen(qint16) override {}
    qint16 InBufferCount() override;
    QByteArray Input() override;
    void Output(const QByteArray &bytes) override;
    bool DTREnable() const override { return m_dtr; }
    void setDTREnable(bool on) override { m_dtr = on; }
    bool RTSEnable() const override { return m_rts; }
    void setRTSEnable(bool on) override { m_rts = on; }
    bool DSRHolding() override;
    bool CTSHolding() override;
    qint16 CommEvent() const override { return m_commEvent; }

    // Everything the PC has written since the port opened (tests read it).
    const QByteArray &written() const { return m_written; }
    void clearWritten() { m_written.clear(); }
    // Number of times the port was opened successfully.
    int openCount() const { return m_openCount; }
    // Bytes reach the PC's receive buffer now, as if the line had carried them
    // (a hand-played installation, line noise for training).
    void arrive(const QByteArray &bytes);
    // The adapter goes away (or comes back) now: an open port is lost.
    void setUnplugged(bool unplugged);

private:
    void deliver(const QByteArray &bytes, qint64 startAt);
    void receive(char byte, quint64 generation);
    void discardInFlight();
    void checkLost();

    SimulatedInstallation &m_installation;
    Clock &m_clock;
    bool m_open = false;
    qint16 m_commPort = 1;
    QString m_settings = QStringLiteral("9600,n,8,1");
    qint32 m_baud = 9600;
    qint32 m_inputMode = 0;
    qint16 m_inBufferSize = 1024;
    bool m_dtr = false;
    bool m_rts = false;
    qint16 m_commEvent = CommEvents::None;
    QByteArray m_inBuffer;
    QByteArray m_written;
    QByteArray m_pendingLine;
    int m_openCount = 0;
    quint64 m_generation = 0;   // bumps on every open and close: bytes in flight are lost
    qint64 m_busyUntil = 0;     // replies queue on the line: one ends before the next begins
};
