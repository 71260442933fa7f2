#include "link/settings.h"

#include <limits>

namespace {

// Where each value is kept, in the order of Settings::Key.
const char *const kPaths[] = {"COMPORT/COM",         "COMPORT/BAUD",  "NBLOCK/BLOCK",
                              "INSTALLATION/BLOCKS", "REPORT/OBJECT", "REPORT/TECHNICIAN"};

} // namespace

Settings Settings::load(const SettingsStore &store)
{
    const QMap<QString, QString> values = store.values();
    const auto text = [&values](Key key) { return values.value(QLatin1String(kPaths[int(key)])); };
    const auto number = [&text](Key key, qint64 def, qint64 high) {
        bool ok = false;
        const qlonglong value = text(key).trimmed().toLongLong(&ok, 10);
        return ok && value >= 1 && value <= high ? value : def;
    };
    Settings settings;
    settings.comPort = qint16(number(Key::ComPort, kDefaultComPort, kHighestComPort));
    settings.baudRate = qint32(number(Key::BaudRate, kDefaultBaudRate, std::numeric_limits<qint32>::max()));
    settings.blockNumber = qint16(number(Key::Block, kDefaultBlock, 32));
    settings.installedBlocks = text(Key::InstalledBlocks).trimmed();
    settings.reportObject = text(Key::ReportObject);
    settings.reportTechnician = text(Key::ReportTechnician);
#ifndef Q_OS_WIN
    for (qint16 n = 1; n <= kHighestComPort; ++n) {
        const Change port = portDeviceChange(n, QString());
        if (const QString device = values.value(port.section + QLatin1Char('/') + port.key).trimmed(); !device.isEmpty())
            settings.portDevices.insert(n, device);
    }
#endif
    return settings;
}

bool Settings::save(SettingsStore &store, Key key) const
{
    const QString texts[] = {QString::number(comPort), QString::number(baudRate), QString::number(blockNumber),
                             installedBlocks,          reportObject,               reportTechnician};
    return save(store, key, texts[int(key)]);
}

bool Settings::save(SettingsStore &store, Key key, const QString &text)
{
    return store.save(change(key, text));
}

bool Settings::savePortDevice(SettingsStore &store, qint16 n, const QString &device)
{
    return store.save(portDeviceChange(n, device));
}

Settings::Change Settings::change(Key key, const QString &text)
{
    const QString path = QLatin1String(kPaths[int(key)]);
    return {path.section(QLatin1Char('/'), 0, 0), path.section(QLatin1Char('/'), 1), text};
}

Settings::Change Settings::portDeviceChange(qint16 n, const QString &device)
{
    return {QStringLiteral("PORTS"), QStringLiteral("COM") + QString::number(n), device};
}

QString Settings::deviceFor(qint16 n) const
{
#ifdef Q_OS_WIN
    // Ports from COM10 on are reached only through the device namespace.
    const QString com = QStringLiteral("COM") + QString::number(n);
    return n > 9 ? QStringLiteral("\\\\.\\") + com : com;
#else
    return portDevices.value(n, QStringLiteral("/dev/ttyS") + QString::number(n - 1));
#endif
}
