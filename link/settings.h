#pragma once

#include "link/settingsstore.h"

// What the user's settings file keeps, as one value: read once when a
// program starts, handed to whatever needs it, and saved key by key when
// something changes it. The names of the sections and keys live here only.
struct Settings
{
    static constexpr qint16 kDefaultComPort = 2;
    static constexpr qint32 kDefaultBaudRate = 4800;
    static constexpr qint16 kDefaultBlock = 1;
    static constexpr qint16 kHighestComPort = 255;
    // The rates the port settings dialog offers, which the search tries too.
    static inline const QList<qint32> kBaudRates = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 256000};

    qint16 comPort = kDefaultComPort;       // 1 to 255
    qint32 baudRate = kDefaultBaudRate;     // above 0
    qint16 blockNumber = kDefaultBlock;     // 1 to 32
    QMap<qint16, QString> portDevices;      // COM n → the device mapped to it (not on Windows)
    QString installedBlocks;                // the installation's blocks as typed ("1-24"); "" all 32
    QString reportObject;                   // the last report's object and technician
    QString reportTechnician;

    enum class Key { ComPort, BaudRate, Block, InstalledBlocks, ReportObject, ReportTechnician };
    using Change = SettingsStore::Change;

    // Anything missing, not a number or out of its range reads as its default
    // (the stored text is left as it is).
    static Settings load(const SettingsStore &store);
    // Saves one value as it stands in this one; false when it could not be
    // saved (the store has told why), and it then holds for this run.
    bool save(SettingsStore &store, Key key) const;
    static bool save(SettingsStore &store, Key key, const QString &text);
    static bool savePortDevice(SettingsStore &store, qint16 n, const QString &device);
    // The same as changes, for a step saved together (SettingsStore::saveChosen).
    static Change change(Key key, const QString &text);
    static Change portDeviceChange(qint16 n, const QString &device);

    // The device behind COM port number n: on Windows "COMn" ("\\.\COMn" from
    // COM10 on); elsewhere the device mapped to it, or else /dev/ttyS<n-1>.
    QString deviceFor(qint16 n) const;
};
