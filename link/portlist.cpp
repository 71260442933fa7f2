#include "link/portlist.h"

#include "link/settings.h"

#include <QFileInfo>

#include <algorithm>

namespace {


PortListing::State stateOf(const PortListing &port, QString *holder, QString *group)
{
    const QString device = resolvedDevice(port.device);
#ifdef Q_OS_WIN
    // The system lists what it has; whether a port is taken shows only when it is opened.
    Q_UNUSED(holder);
    Q_UNUSED(group);
    return port.detected ? PortListing::State::Free : PortListing::State::Absent;
#else
    const QFileInfo file(device);
    if (!file.exists())
        return PortListing::State::Absent;
    if (!file.isReadable() || !file.isWritable()) {
        *group = groupToJoin(device);
        return PortListing::State::NoRights;
    }
    *holder = portHolder(device);
    return holder->isEmpty() ? PortListing::State::Free : PortListing::State::InUse;
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

    for (qint16 n = 1; n <= Settings::kHighestComPort; ++n) {
        // On Windows COM n is the system's own name: nothing is mapped there.
        const QString mapped = settings.portDevices.value(n);
        const QString device = settings.deviceFor(n);
        // A COM number the user never mapped counts only where its own device is there.
        const QString key = resolvedDevice(device);
        const bool listed = std::any_of(detected.cbegin(), detected.cend(), [&](const DetectedPort &port) {
            return resolvedDevice(port.device) == key;
        });
        if (mapped.isEmpty() && !listed)
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
        port.state = stateOf(port, &port.holder, &port.group);
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
    QStringList about;
    if (!port.description.isEmpty())
        about << port.description;
    if (!port.manufacturer.isEmpty())
        about << port.manufacturer;
    if (!port.serialNumber.isEmpty())
        about << QStringLiteral("серийный номер ") + port.serialNumber;
    if (!about.isEmpty())
        line += QStringLiteral("; ") + about.join(QStringLiteral(", "));
    if (port.console)
        line += QStringLiteral("; системная консоль");
    return line + QStringLiteral("; ") + portStateText(port);
}
