#include "link/openport.h"

#include "link/settingsstore.h"

#include <limits>

namespace {

// Saved values are decimal text. Anything the program would not have written
// itself (not a number, too wide for its variable) gives the default, and the
// stored text is left as it is.
template<typename T>
T readNumber(const SettingsStore &store, const QString &section, const QString &key, T def)
{
    const QString text = store.read(kApp, section, key, QString::number(def)).trimmed();
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok, 10);
    if (!ok || value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max())
        return def;
    return static_cast<T>(value);
}

} // namespace

SavedPortSettings readSavedPortSettings(const SettingsStore &store)
{
    SavedPortSettings saved;
    const QString comport = QStringLiteral("COMPORT");
    const qint16 com = readNumber<qint16>(store, comport, QStringLiteral("COM"), saved.comPort);
    if (com >= 1 && com <= 255)
        saved.comPort = com;
    const qint32 baud = readNumber<qint32>(store, comport, QStringLiteral("BAUD"), saved.baudRate);
    if (baud > 0)
        saved.baudRate = baud;
    // Read as 32 bits; anything outside 1 to 32 (16-bit overflow included) is block 1.
    const qint32 block = readNumber<qint32>(store, QStringLiteral("NBLOCK"), QStringLiteral("BLOCK"), saved.blockNumber);
    if (block >= 1 && block <= 32)
        saved.blockNumber = qint16(block);
    return saved;
}

QString deviceForComPort(const SettingsStore &store, qint16 n)
{
    const QString com = QStringLiteral("COM") + QString::number(n);
#ifdef Q_OS_WIN
    Q_UNUSED(store);
    // Ports from COM10 on are reached only through the device namespace.
    return n > 9 ? QStringLiteral("\\\\.\\") + com : com;
#else
    const QString mapped = store.read(kApp, QStringLiteral("PORTS"), com, QString()).trimmed();
    if (!mapped.isEmpty())
        return mapped;
    return QStringLiteral("/dev/ttyS") + QString::number(n - 1);
#endif
}
