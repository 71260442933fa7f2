#pragma once

#include "link/systemports.h"

struct Settings;

// One serial port as `linkprobe-check ports` and the mapping dialog show it:
// a port the system knows, or a device named under "PORTS".
struct PortListing
{
    enum class State { Free, InUse, NoRights, Absent };

    QList<qint16> comPorts;   // the COM numbers that lead to it, ascending
    QString device;           // as the system or the mapping names it
    QString stablePath;       // its by-id name, "" when it has none
    QString description;
    QString manufacturer;
    QString serialNumber;
    bool detected = false;    // the system lists it
    State state = State::Free;
    QString holder;           // InUse: the process, "" when /proc does not show it
    QString group;            // NoRights: the group to join, "" when none would help
    bool console = false;     // the system's console: probing it would write into the console
};

// Every detected port and every device mapped under "PORTS" (COM1 to COM255),
// once each, whichever name leads to it: mapped ones first, by COM number.
QList<PortListing> listPorts(const Settings &settings, const QList<DetectedPort> &detected,
                             const QString &stableDir = kStablePortDir);

// Marks the ports that are one of the console devices, under whichever name.
void markConsoles(QList<PortListing> &ports, const QStringList &consoles);

// One line for the technician:
// "COM3: /dev/ttyUSB0 (/dev/serial/by-id/usb-FTDI…); FT232R USB UART, FTDI, серийный номер A1B2; свободен",
// with "системная консоль" before the state for a console.
QString portListingLine(const PortListing &port);
// Its state alone: "свободен", "занят: minicom (процесс 1234)", ...
QString portStateText(const PortListing &port);
