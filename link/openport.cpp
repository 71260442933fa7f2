#include "link/openport.h"

#include "link/serialport.h"
#include "link/settingsstore.h"
#include "link/telstate.h"

#include <limits>

namespace {

constexpr qint16 kDefaultPort = 2;
constexpr qint32 kDefaultBaud = 4800;
constexpr qint16 kDefaultBlock = 1;

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

QString settingsFor(qint32 baud)
{
    return QString::number(baud) + QStringLiteral(",n,8,1");
}

} // namespace

void OpenPort(TelState &state, SerialPort &MSComm1, const SettingsStore &store)
{
    const QString comport = QStringLiteral("COMPORT");
    state.CurPort = readNumber<qint16>(store, comport, QStringLiteral("COM"), kDefaultPort);
    state.CurBaud = readNumber<qint32>(store, comport, QStringLiteral("BAUD"), kDefaultBaud);
    // Read as 32 bits; anything outside 1 to 32 (16-bit overflow included) is block 1.
    const qint32 block = readNumber<qint32>(store, QStringLiteral("NBLOCK"), QStringLiteral("BLOCK"), kDefaultBlock);
    state.BlockNo = (block >= 1 && block <= 32) ? static_cast<qint16>(block) : kDefaultBlock;

    if (MSComm1.PortOpen())
        MSComm1.setPortOpen(false);

    // A port number or rate the port refuses falls back to its default.
    if (!MSComm1.setCommPort(state.CurPort)) {
        state.CurPort = kDefaultPort;
        MSComm1.setCommPort(state.CurPort);
    }
    MSComm1.setRThreshold(0);
    MSComm1.setHandshaking(0);
    if (!MSComm1.setSettings(settingsFor(state.CurBaud))) {
        state.CurBaud = kDefaultBaud;
        MSComm1.setSettings(settingsFor(state.CurBaud));
    }
    MSComm1.setInputMode(1);
    MSComm1.setInBufferSize(16384);
    MSComm1.setInputLen(0);

    // A port that does not open stays closed, without a word: the status bar
    // and the checks tell the operator.
    MSComm1.setPortOpen(true);
}
