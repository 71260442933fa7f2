#pragma once

#include <QString>

class SettingsStore;

// The port, rate and block the user last chose, as saved.
struct SavedPortSettings
{
    static constexpr qint16 kDefaultComPort = 2;
    static constexpr qint32 kDefaultBaudRate = 4800;
    static constexpr qint16 kDefaultBlock = 1;

    qint16 comPort = kDefaultComPort;       // 1 to 255
    qint32 baudRate = kDefaultBaudRate;     // above 0
    qint16 blockNumber = kDefaultBlock;     // 1 to 32
};

// Reads the saved values; anything missing, not a number or out of its range
// gives its default. Writes nothing.
SavedPortSettings readSavedPortSettings(const SettingsStore &store);

// The device behind COM port number n: on Windows "COMn" ("\\.\COMn" from
// COM10 on); elsewhere the device saved under section "PORTS", key "COMn",
// or else /dev/ttyS<n-1>.
QString deviceForComPort(const SettingsStore &store, qint16 n);
