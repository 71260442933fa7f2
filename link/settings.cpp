#include "link/settings.h"

#include "link/settingsstore.h"

#include <limits>

namespace {

const QString kComPortSection = QStringLiteral("COMPORT");
const QString kPortsSection = QStringLiteral("PORTS");

QString comName(qint16 n)
{
    return QStringLiteral("COM") + QString::number(n);
}

// Where each value is kept: section, key.
QStringList place(Settings::Key key)
{
    switch (key) {
    case Settings::Key::ComPort: return {kComPortSection, QStringLiteral("COM")};
    case Settings::Key::BaudRate: return {kComPortSection, QStringLiteral("BAUD")};
    case Settings::Key::Block: return {QStringLiteral("NBLOCK"), QStringLiteral("BLOCK")};
    case Settings::Key::InstalledBlocks: return {QStringLiteral("INSTALLATION"), QStringLiteral("BLOCKS")};
    case Settings::Key::ReportObject: return {QStringLiteral("REPORT"), QStringLiteral("OBJECT")};
    case Settings::Key::ReportTechnician: return {QStringLiteral("REPORT"), QStringLiteral("TECHNICIAN")};
    }
    return {};
}

QString text(const QMap<QString, QString> &values, Settings::Key key)
{
    const QStringList at = place(key);
    return values.value(at.at(0) + QLatin1Char('/') + at.at(1));
}

// Saved values are decimal text. Anything the program would not have written
// itself (not a number, outside its range) gives the default, and the stored
// text is left as it is.
template<typename T>
T number(const QMap<QString, QString> &values, Settings::Key key, T def, qint64 low, qint64 high)
{
    bool ok = false;
    const qlonglong value = text(values, key).trimmed().toLongLong(&ok, 10);
    return ok && value >= low && value <= high ? T(value) : def;
}

} // namespace

Settings Settings::load(const SettingsStore &store)
{
    const QMap<QString, QString> values = store.values();
    Settings settings;
    settings.comPort = number<qint16>(values, Key::ComPort, kDefaultComPort, 1, kHighestComPort);
    settings.baudRate = number<qint32>(values, Key::BaudRate, kDefaultBaudRate, 1, std::numeric_limits<qint32>::max());
    settings.blockNumber = number<qint16>(values, Key::Block, kDefaultBlock, 1, 32);
    settings.installedBlocks = text(values, Key::InstalledBlocks).trimmed();
    settings.reportObject = text(values, Key::ReportObject);
    settings.reportTechnician = text(values, Key::ReportTechnician);
#ifndef Q_OS_WIN
    for (qint16 n = 1; n <= kHighestComPort; ++n) {
        const QString device = values.value(kPortsSection + QLatin1Char('/') + comName(n)).trimmed();
        if (!device.isEmpty())
            settings.portDevices.insert(n, device);
    }
#endif
    return settings;
}

bool Settings::save(SettingsStore &store, Key key) const
{
    switch (key) {
    case Key::ComPort: return save(store, key, QString::number(comPort));
    case Key::BaudRate: return save(store, key, QString::number(baudRate));
    case Key::Block: return save(store, key, QString::number(blockNumber));
    case Key::InstalledBlocks: return save(store, key, installedBlocks);
    case Key::ReportObject: return save(store, key, reportObject);
    case Key::ReportTechnician: return save(store, key, reportTechnician);
    }
    return false;
}

bool Settings::save(SettingsStore &store, Key key, const QString &text)
{
    const SettingsStore::Change one = change(key, text);
    return store.save(kApp, one.section, one.key, one.text);
}

bool Settings::savePortDevice(SettingsStore &store, qint16 n, const QString &device)
{
    const SettingsStore::Change one = portDeviceChange(n, device);
    return store.save(kApp, one.section, one.key, one.text);
}

SettingsStore::Change Settings::change(Key key, const QString &text)
{
    const QStringList at = place(key);
    return {at.at(0), at.at(1), text};
}

SettingsStore::Change Settings::portDeviceChange(qint16 n, const QString &device)
{
    return {kPortsSection, comName(n), device};
}

QString Settings::deviceFor(qint16 n) const
{
#ifdef Q_OS_WIN
    // Ports from COM10 on are reached only through the device namespace.
    const QString com = comName(n);
    return n > 9 ? QStringLiteral("\\\\.\\") + com : com;
#else
    return portDevices.value(n, QStringLiteral("/dev/ttyS") + QString::number(n - 1));
#endif
}
