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
    ~QtSerialPort() override;

    bool open(const QString &device, qint32 baudRate) override;
    void close() override;
    bool isOpen() const override;
    QString device() const override { return m_device; }
    qint32 baudRate() const override { return m_baudRate; }
    bool setBaudRate(qint32 baudRate) override;
    QString openError() const override { return m_openError; }
    bool modemLinesUnreadable() const override { return m_linesUnreadable; }
    bool isSystemDevice() const override { return true; }
    qsizetype bytesWaiting() override;
    QByteArray readAll() override;
    void write(const QByteArray &bytes) override;
    bool dtr() const override { return m_dtr; }
    void setDtr(bool on) override;
    bool rts() const override { return m_rts; }
    void setRts(bool on) override;
    bool dsr() override;
    bool cts() override;

private:
    void absorb();
    void onError(QSerialPort::SerialPortError error);
    QSerialPort::PinoutSignals pinout();

    QSerialPort m_port;
    QString m_device;
    qint32 m_baudRate = 0;
    bool m_dtr = false;
    bool m_rts = false;
    QByteArray m_buffer;
    QString m_openError;
    bool m_linesUnreadable = false;
};
#endif
