#pragma once

#include "link/serialport.h"
#include "link/windowsportfailure.h"

#include <QElapsedTimer>
#include <QTimer>

// A COM port through the Windows communications API: the real port of the
// Windows build.
//
// Why not QSerialPort there: it reads through overlapped I/O and a completion
// port, and Wine 8 (Debian 12's) serves an overlapped WaitCommEvent without an
// event handle synchronously and never posts its completion. Opening a port
// whose lines can be read then blocks until a byte arrives, and no byte is read
// after. Here the handle is synchronous and reads return at once with what the
// driver holds (ReadIntervalTimeout MAXDWORD).
//
// Why no reader thread: Windows runs the calls on a synchronous handle one at a
// time, so a read blocked in another thread would hold back every write and
// every look at the lines. Instead, from each write until the line has been
// quiet for a while, a short timer takes in what arrived: it wakes the wait for
// a reply within a few milliseconds, and an idle port costs no wake-up at all.
//
// Any failure to move bytes or read the lines closes the port and raises
// lost(): see windowsportfailure.h.
class WindowsComPort : public SerialPort
{
    Q_OBJECT
public:
    explicit WindowsComPort(QObject *parent = nullptr);
    ~WindowsComPort() override;

    // "COM3" or "\\.\COM12"; both name the same kind of device.
    bool open(const QString &device, qint32 baudRate) override;
    void close() override;
    bool isOpen() const override;
    bool setBaudRate(qint32 baudRate) override;
    bool isSystemDevice() const override { return true; }
    qsizetype bytesWaiting() override;
    void write(const QByteArray &bytes) override;
    void setDtr(bool on) override;
    void setRts(bool on) override;
    bool dsr() override;
    bool cts() override;

private:
    bool applyLineSettings(qint32 baudRate);
    void setLine(unsigned long function);
    unsigned long modemStatus();
    void absorb();
    void watchLine();
    // A failed call: the port is lost, unless only the request was refused.
    void callFailed(WindowsPortCall call, unsigned long code);

    void *m_handle;   // a HANDLE; INVALID_HANDLE_VALUE while closed
    QTimer m_lineWatch;
    QElapsedTimer m_sinceActivity;
};
