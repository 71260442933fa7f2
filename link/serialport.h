#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <utility>

// The serial port as the checks use it: a device opened at a baud rate, 8N1,
// no flow control; bytes in and out; DTR and RTS set, DSR and CTS read. The
// implementations: the real port (QSerialPort, or the Win32 port on
// Windows) and the simulated installation.
//
// Every operation is safe on a closed port or one that failed while open:
// lines read as off, readAll() gives nothing, write() goes nowhere.
class SerialPort : public QObject
{
    Q_OBJECT
public:
    // The receive buffer holds this much; what comes on top of a full buffer
    // is dropped, as the driver's own buffer would drop it.
    static constexpr qsizetype kReceiveBufferBytes = 16384;

    using QObject::QObject;

    // Closes the port if it is open, then opens the device at the rate.
    // Returns false when the device refuses; the port then stays closed.
    virtual bool open(const QString &device, qint32 baudRate) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // The device and rate of the last open(), whether it succeeded or not.
    virtual QString device() const { return m_device; }
    virtual qint32 baudRate() const { return m_baudRate; }
    // Changes the rate of the open port without closing it: DTR and RTS stay
    // as they are. False when the port is closed or refuses the rate (it keeps
    // its rate then, or is lost and raises lost()).
    virtual bool setBaudRate(qint32 baudRate) = 0;
    // Why the last open() failed, for the technician: the reason, then on
    // lines of their own what he can do about it; "" when it did not fail.
    virtual QString openError() const { return m_openError; }
    // The device did not tell its modem lines when asked since the last
    // opening (a pseudo-terminal, some adapters): DSR and CTS read as off.
    virtual bool modemLinesUnreadable() const { return false; }
    // The device is the system's, so other programs may hold it open too;
    // a simulated port only borrows a device's name.
    virtual bool isSystemDevice() const { return false; }

    virtual qsizetype bytesWaiting() = 0;
    // The waiting bytes; they leave the buffer.
    virtual QByteArray readAll()
    {
        bytesWaiting();
        return std::exchange(m_buffer, QByteArray());
    }
    virtual void write(const QByteArray &bytes) = 0;

    virtual bool dtr() const { return m_dtr; }
    virtual void setDtr(bool on) { m_dtr = on; }
    virtual bool rts() const { return m_rts; }
    virtual void setRts(bool on) { m_rts = on; }
    virtual bool dsr() = 0;
    virtual bool cts() = 0;

signals:
    // The open port is gone (an adapter pulled): it is closed now. Raised once per loss.
    void lost();

protected:
    // Keeps as much as the receive buffer has room for.
    void receive(const char *bytes, qsizetype size)
    {
        m_buffer.append(bytes, qMin(size, kReceiveBufferBytes - m_buffer.size()));
    }

    QString m_device;
    qint32 m_baudRate = 0;
    QString m_openError;
    bool m_dtr = false;
    bool m_rts = false;
    QByteArray m_buffer;
};
