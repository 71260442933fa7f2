#pragma once

#include <QStringList>

// What the system tells about its serial ports, without opening any of them.

// A serial port the system knows (QSerialPortInfo). Pseudo-terminals are never among them.
struct DetectedPort
{
    QString device;         // /dev/ttyUSB0, COM3
    QString description;    // "FT232R USB UART"; "" when the system does not say
    QString manufacturer;
    QString serialNumber;
};
QList<DetectedPort> detectedPorts();

// Where the system keeps names that stay with an adapter whichever socket it is in.
inline const QString kStablePortDir = QStringLiteral("/dev/serial/by-id");

// The name under stableDir that leads to the device (a by-id name), "" when none does.
QString stablePortPath(const QString &device, const QString &stableDir = kStablePortDir);

// The device file a name leads to (symlinks followed), the name itself when it leads nowhere;
// on Windows the port's name without the device namespace prefix, in capitals.
QString resolvedDevice(const QString &device);

// A process that holds a device open.
struct PortUser
{
    QString program;   // its name, "?" when /proc does not tell it
    qint64 pid = 0;
};

// The processes that hold the device open, by process number, leaving out `except` (this program
// itself, as a rule); none when /proc does not show them (another user's processes, Windows,
// where an open port is refused to every other program anyway).
QList<PortUser> portUsers(const QString &device, qint64 except = 0,
                          const QString &procDir = QStringLiteral("/proc"));

// The first of portUsers() as "minicom (процесс 1234)"; "" when there is none.
QString portHolder(const QString &device, const QString &procDir = QStringLiteral("/proc"));

// Why the device refused to open, for the technician: the system's own words, or that another
// program holds it ("порт занят другой программой: minicom (процесс 2311)"); then, a line each,
// what he can do about it as far as the system shows it: the device is not there, or no rights.
QString unopenedPortExplanation(const QString &device, const QString &systemWords, bool accessDenied);

// One line for each other program that has the port this program opened
// open too: it may take replies away or send bytes of its own. `portName` is
// the port as the technician knows it ("COM1 (/dev/ttyUSB0)").
QStringList sharedPortWarnings(const QString &portName, const QList<PortUser> &others);

// The system's console devices (/sys/class/tty/console/active and the
// kernel's console= arguments), as /dev paths. Probing one writes into the console.
QStringList consoleDevices();

// The group whose members may use the device, when the user cannot; "" when he can or no group would help.
QString groupToJoin(const QString &device);
