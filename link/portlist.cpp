#include "link/portlist.h"

#include "link/settings.h"

#include <QFileInfo>

namespace {

// Whether the port is there, open to this user and free, as far as the system shows without opening it.
void findState(PortListing &port)
{
#ifdef Q_OS_WIN
    // The system lists what it has; whether a port is taken shows only when it is opened.
    port.state = port.detected ? PortListing::State::Free : PortListing::State::Absent;
#else
    const QString device = resolvedDevice(port.device);
    const QFileInfo file(device);
    if (!file.exists()) {
        port.state = PortListing::State::Absent;
    } else if (!file.isReadable() || !file.isWritable()) {
        port.state = PortListing::State::NoRights;
        port.group = groupToJoin(device);
    } else {
        port.holder = portHolder(device);
        port.state = port.holder.isEmpty() ? PortListing::State::Free : PortListing::State::InUse;
    }
#endif
}

} // namespace

QList<PortListing> listPorts(const Settings &settings, const QList<DetectedPort> &detected,
                             const QString &stableDir)
{
    QList<PortListing> ports;
    QStringList keys;   // the resolved device of each entry of ports
    const auto entryFor = [&](const QString &device) -> PortListing & {
        const QString key = resolvedDevice(device);
        const qsizetype at = keys.indexOf(key);
        if (at >= 0)
            return ports[at];
        keys << key;
        PortListing port;
        port.device = device;
        ports << port;
        return ports.last();
    };

    QStringList detectedDevices;
    for (const DetectedPort &port : detected)
        detectedDevices << resolvedDevice(port.device);
    for (qint16 n = 1; n <= Settings::kHighestComPort; ++n) {
        // On Windows COM n is the system's own name: nothing is mapped there.
        const QString device = settings.deviceFor(n);
        // A COM number the user never mapped counts only where its own device is there.
        if (settings.portDevices.value(n).isEmpty() && !detectedDevices.contains(resolvedDevice(device)))
            continue;
        entryFor(device).comPorts << n;
    }
    for (const DetectedPort &port : detected) {
        PortListing &entry = entryFor(port.device);
        // The system's own name is the clearer one; a by-id name stays as the stable path.
        entry.device = port.device;
        entry.description = port.description;
        entry.manufacturer = port.manufacturer;
        entry.serialNumber = port.serialNumber;
        entry.detected = true;
    }
    for (PortListing &port : ports) {
        const QString stable = stablePortPath(port.device, stableDir);
        if (!port.detected && !stable.isEmpty() && resolvedDevice(stable) != port.device)
            port.device = resolvedDevice(stable);   // a mapped by-id name: show the device it leads to
        port.stablePath = stable;
        findState(port);
    }
    return ports;
}

QString portStateText(const PortListing &port)
{
    switch (port.state) {
    case PortListing::State::Free:
        return QStringLiteral("свободен");
    case PortListing::State::InUse:
        return QStringLiteral("занят: ") + port.holder;
    case PortListing::State::NoRights:
        return port.group.isEmpty()
                   ? QStringLiteral("нет прав на устройство")
                   : QStringLiteral("нет прав: добавьте пользователя в группу %1 (sudo usermod -aG %1 $USER) "
                                    "и войдите в систему заново").arg(port.group);
    case PortListing::State::Absent:
        return QStringLiteral("устройства нет в системе");
    }
    return QString();
}

void markConsoles(QList<PortListing> &ports, const QStringList &consoles)
{
    QStringList consoleDevices;
    for (const QString &console : consoles)
        consoleDevices << resolvedDevice(console);
    for (PortListing &port : ports)
        port.console = consoleDevices.contains(resolvedDevice(port.device));
}

QString portListingLine(const PortListing &port)
{
    QStringList coms;
    for (qint16 n : port.comPorts)
        coms << QStringLiteral("COM") + QString::number(n);
    QString line = coms.isEmpty() ? QStringLiteral("без номера COM") : coms.join(QStringLiteral(", "));
    line += QStringLiteral(": ") + port.device;
    if (!port.stablePath.isEmpty())
        line += QStringLiteral(" (") + port.stablePath + QLatin1Char(')');
    QStringList about = {port.description, port.manufacturer};
    if (!port.serialNumber.isEmpty())
        about << QStringLiteral("серийный номер ") + port.serialNumber;
    about.removeAll(QString());
    if (!about.isEmpty())
        line += QStringLiteral("; ") + about.join(QStringLiteral(", "));
    if (port.console)
        line += QStringLiteral("; системная консоль");
    return line + QStringLiteral("; ") + portStateText(port);
}
