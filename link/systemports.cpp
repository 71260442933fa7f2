#include "link/systemports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>

QList<DetectedPort> detectedPorts()
{
    QList<DetectedPort> ports;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        ports.append({info.systemLocation(), info.description(), info.manufacturer(), info.serialNumber()});
    return ports;
}

QString resolvedDevice(const QString &device)
{
#ifdef Q_OS_WIN
    // COM3 and \\.\COM3 (as the system lists its ports) are one port, in any case.
    const QString prefix = QStringLiteral("\\\\.\\");
    return (device.startsWith(prefix) ? device.mid(prefix.size()) : device).toUpper();
#else
    const QString canonical = QFileInfo(device).canonicalFilePath();
    return canonical.isEmpty() ? device : canonical;
#endif
}

QString stablePortPath(const QString &device, const QString &stableDir)
{
    // On Windows no name under it resolves to a COM port's name: none is found.
    const QString target = resolvedDevice(device);
    const QDir dir(stableDir);
    const QStringList names = dir.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names) {
        const QString path = dir.filePath(name);
        if (QFileInfo(path).canonicalFilePath() == target)
            return path;
    }
    return QString();
}

QList<PortUser> portUsers([[maybe_unused]] const QString &device, [[maybe_unused]] qint64 except,
                          [[maybe_unused]] const QString &procDir)
{
    QList<PortUser> users;
#ifndef Q_OS_WIN
    const QString target = resolvedDevice(device);
    const QStringList pids = QDir(procDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pidText : pids) {
        bool numeric = false;
        const qint64 pid = pidText.toLongLong(&numeric);
        if (!numeric || pid == except)
            continue;
        // Another user's descriptors are closed to us: those processes stay unseen.
        const QDir fds(procDir + QLatin1Char('/') + pidText + QStringLiteral("/fd"));
        const QStringList entries = fds.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
        for (const QString &fd : entries) {
            if (QFile::symLinkTarget(fds.filePath(fd)) != target)
                continue;
            QFile comm(procDir + QLatin1Char('/') + pidText + QStringLiteral("/comm"));
            QString name = comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed()
                                                          : QString();
            users.append({name.isEmpty() ? QStringLiteral("?") : name, pid});
            break;
        }
    }
    std::sort(users.begin(), users.end(), [](const PortUser &a, const PortUser &b) { return a.pid < b.pid; });
#endif
    return users;
}

QString portHolder(const QString &device, const QString &procDir)
{
    const QList<PortUser> users = portUsers(device, 0, procDir);
    if (users.isEmpty())
        return QString();
    return QStringLiteral("%1 (процесс %2)").arg(users.constFirst().program).arg(users.constFirst().pid);
}

QStringList sharedPortWarnings(const QString &portName, const QList<PortUser> &others)
{
    QStringList lines;
    for (const PortUser &user : others)
        lines << QStringLiteral("Порт %1 открыт также программой %2 (процесс %3): ответы могут теряться")
                     .arg(portName, user.program, QString::number(user.pid));
    return lines;
}

QStringList consoleDevices()
{
    QStringList devices;
#ifndef Q_OS_WIN
    const auto addConsole = [&devices](const QString &name) {
        // "ttyS0,115200n8": the device before the options.
        const QString tty = name.section(QLatin1Char(','), 0, 0).trimmed();
        if (tty.isEmpty())
            return;
        const QString path = tty.startsWith(QLatin1Char('/')) ? tty : QStringLiteral("/dev/") + tty;
        if (!devices.contains(path))
            devices << path;
    };
    QFile active(QStringLiteral("/sys/class/tty/console/active"));
    if (active.open(QIODevice::ReadOnly)) {
        const QStringList names = QString::fromLocal8Bit(active.readAll()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (const QString &name : names)
            addConsole(name);
    }
    QFile cmdline(QStringLiteral("/proc/cmdline"));
    if (cmdline.open(QIODevice::ReadOnly)) {
        const QStringList words = QString::fromLocal8Bit(cmdline.readAll()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (const QString &word : words) {
            if (word == QLatin1String("--"))
                break;   // what follows belongs to init
            if (word.startsWith(QLatin1String("console=")))
                addConsole(word.mid(8));
        }
    }
#endif
    return devices;
}

QString groupToJoin([[maybe_unused]] const QString &device)
{
#ifndef Q_OS_WIN
    const QFileInfo file(resolvedDevice(device));
    const bool usable = file.isReadable() && file.isWritable();
    // Serial ports are usually open to a group (dialout on Debian); joining root is no answer.
    const QString group = file.group();
    if (file.exists() && !usable && !group.isEmpty() && group != QLatin1String("root")
        && file.permission(QFile::ReadGroup | QFile::WriteGroup))
        return group;
#endif
    return QString();
}

QString unopenedPortExplanation(const QString &device, const QString &systemWords, bool accessDenied)
{
    QStringList lines;
#ifdef Q_OS_WIN
    // Windows denies access to a port another program has open.
    const bool busy = accessDenied;
    const QString path = device;
#else
    // Qt reports a lock held by another program as a permission error, like
    // a lack of rights: with the rights in hand, it is the lock.
    const QFileInfo file(device.startsWith(QLatin1Char('/')) ? device : QStringLiteral("/dev/") + device);
    const QString path = file.filePath();
    const bool usable = file.isReadable() && file.isWritable();
    const bool busy = accessDenied && file.exists() && usable;
    const QString group = groupToJoin(path);
    if (!file.exists())
        lines << QStringLiteral("Устройства %1 нет: проверьте, подключён ли адаптер, или укажите порт через --port "
                                "(например --port /dev/ttyUSB0)").arg(path);
    else if (!usable && !group.isEmpty())
        lines << QStringLiteral("Нет прав на %1: добавьте пользователя в группу %2 (sudo usermod -aG %2 $USER) "
                                "и войдите в систему заново").arg(path, group);
    else if (!usable)
        lines << QStringLiteral("Нет прав на %1 (владелец %2, группа %3): права на устройство даёт администратор; "
                                "обычно последовательные порты открыты группе dialout").arg(path, file.owner(), file.group());
#endif
    const QString holder = busy ? portHolder(path) : QString();
    lines.prepend(!busy ? systemWords
                        : QStringLiteral("порт занят другой программой")
                              + (holder.isEmpty() ? QString() : QStringLiteral(": ") + holder));
    return lines.join(QLatin1Char('\n'));
}
