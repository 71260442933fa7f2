#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

// A COM port through the Windows communications API, with the part of
// QSerialPort's interface that QtSerialPort uses, so that it stands in for
// QSerialPort on Windows.
//
// Why not QSerialPort there: it reads through overlapped I/O and a completion
// port, and Wine 8 (Debian 12's) serves an overlapped WaitCommEvent without an
// event handle synchronously and never posts its completion. Opening a port
// whose lines can be read then blocks until a byte arrives, and no byte is read
// after. Here the handle is synchronous and reads return at once with what the
// driver holds (ReadIntervalTimeout MAXDWORD); the checks poll for replies
// anyway, so nothing waits on events.
//
// Failures are reported as QSerialPort reports them: error(), errorString()
// and errorOccurred with the same error kinds.
class WindowsComPort : public QObject
{
    Q_OBJECT
public:
    explicit WindowsComPort(QObject *parent = nullptr);
    ~WindowsComPort() override;

    // "COM3" or "\\.\COM12"; both name the same kind of device.
    void setPortName(const QString &name) { m_name = name; }
    QString portName() const { return m_name; }
    bool setBaudRate(qint32 baudRate);
    // The line is always 8 data bits, no parity, one stop bit, no flow control.
    bool setDataBits(QSerialPort::DataBits bits) { return bits == QSerialPort::Data8; }
    bool setParity(QSerialPort::Parity parity) { return parity == QSerialPort::NoParity; }
    bool setStopBits(QSerialPort::StopBits bits) { return bits == QSerialPort::OneStop; }
    bool setFlowControl(QSerialPort::FlowControl flow) { return flow == QSerialPort::NoFlowControl; }

    bool open(QIODevice::OpenMode mode);
    void close();
    bool isOpen() const;

    QSerialPort::SerialPortError error() const { return m_error; }
    QString errorString() const { return m_errorString; }
    void clearError() { m_error = QSerialPort::NoError; m_errorString.clear(); }

    bool setDataTerminalReady(bool on);
    bool setRequestToSend(bool on);
    QSerialPort::PinoutSignals pinoutSignals();

    // Bytes the driver holds now; a wait of 0 ms asks only that.
    qint64 bytesAvailable();
    bool waitForReadyRead(int msecs);
    QByteArray readAll();
    qint64 write(const QByteArray &bytes);
    // Writes go to the driver as they are made.
    bool flush() { return isOpen(); }

signals:
    // There is no readyRead: received bytes stay with the driver until read.
    void errorOccurred(QSerialPort::SerialPortError error);

private:
    bool applyLineSettings();
    // Raises or drops DTR or RTS: EscapeCommFunction's SETDTR, CLRDTR, SETRTS or CLRRTS.
    bool setLine(unsigned long function);
    void setSystemError(unsigned long code);

    void *m_handle;   // a HANDLE; INVALID_HANDLE_VALUE while closed
    QString m_name;
    qint32 m_baudRate = 9600;
    QSerialPort::SerialPortError m_error = QSerialPort::NoError;
    QString m_errorString;
};
