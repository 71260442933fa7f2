#pragma once

#include "link/serialport.h"

#ifdef Q_OS_WIN
#include "link/windowscomport.h"

// The real serial port of the Windows build: QSerialPort hangs under Wine (see windowscomport.h).
using QtSerialPort = WindowsComPort;
#else
#include <QSerialPort>

// The real serial port. Received bytes collect in a bounded buffer of our own.
class QtSerialPort : public SerialPort
{
    Q_OBJECT
public:
    explicit QtSerialPort(QObject *parent = nullptr);

    bool open(const QString &device, qint32 baudRate) override;
    void close() override;
    bool isOpen() const override { return m_port.isOpen(); }
    bool setBaudRate(qint32 baudRate) override;
    bool modemLinesUnreadable() const override { return m_linesUnreadable; }
    bool isSystemDevice() const override { return true; }
    qsizetype bytesWaiting() override;
    void write(const QByteArray &bytes) override;
    void setDtr(bool on) override;
    void setRts(bool on) override;
    bool dsr() override { return pinout().testFlag(QSerialPort::DataSetReadySignal); }
    bool cts() override { return pinout().testFlag(QSerialPort::ClearToSendSignal); }

private:
    void absorb();
    void onError(QSerialPort::SerialPortError error);
    QSerialPort::PinoutSignals pinout();

    QSerialPort m_port;
    bool m_linesUnreadable = false;
};
#endif
