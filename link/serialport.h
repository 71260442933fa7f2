#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// The serial port as the program uses it: the operations of the serial
// communications control, and nothing more. Two implementations exist: a real
// port over QSerialPort, and the simulated installation.
//
// Every operation is safe on a closed port or one that failed while open:
// lines read as off, Input() gives nothing, Output() goes nowhere.
class SerialPort : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~SerialPort() override = default;

    virtual bool PortOpen() const = 0;
    // false closes the port; true opens it with the current settings.
    // Returns false when the port refuses to open (it then stays closed).
    virtual bool setPortOpen(bool open) = 0;

    virtual qint16 CommPort() const = 0;
    // Refused (false) while the port is open or for a number outside 1 to 255.
    virtual bool setCommPort(qint16 port) = 0;

    virtual QString Settings() const = 0;
    // "<baud>,n,8,1"; refused (false) for any other form or a baud of 0 or less.
    virtual bool setSettings(const QString &settings) = 0;

    virtual void setHandshaking(qint32 mode) = 0;
    virtual void setRThreshold(qint16 threshold) = 0;
    virtual qint32 InputMode() const = 0;
    virtual void setInputMode(qint32 mode) = 0;
    virtual void setInBufferSize(qint16 size) = 0;
    virtual void setInputLen(qint16 len) = 0;

    virtual qint16 InBufferCount() = 0;
    // The waiting bytes; they leave the buffer.
    virtual QByteArray Input() = 0;
    virtual void Output(const QByteArray &bytes) = 0;

    virtual bool DTREnable() const = 0;
    virtual void setDTREnable(bool on) = 0;
    virtual bool RTSEnable() const = 0;
    virtual void setRTSEnable(bool on) = 0;
    virtual bool DSRHolding() = 0;
    virtual bool CTSHolding() = 0;

    virtual qint16 CommEvent() const = 0;

signals:
    // Raised for line events (errors, a port lost); CommEvent() tells which.
    void OnComm();
};

// The baud rate of a settings text "<baud>,n,8,1"; 0 when the text is not of
// that form or the rate is not a positive 32-bit number.
qint32 baudFromSettings(const QString &settings);

// Event codes given by CommEvent().
namespace CommEvents {
constexpr qint16 None = 0;
constexpr qint16 Break = 1001;
constexpr qint16 Frame = 1004;
constexpr qint16 Overrun = 1006;
constexpr qint16 RxOver = 1008;
constexpr qint16 RxParity = 1009;
constexpr qint16 PortLost = 1100;
}
