#pragma once

#include "checks/checksession.h"
#include "link/clock.h"
#include "link/settings.h"
#include "link/settingsstore.h"
#include "sim/simulatedport.h"
#include "recordingpanel.h"

#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// A settings store in a temporary folder: tests never touch the user's own.
struct TempStore
{
    QTemporaryDir dir;
    std::unique_ptr<SettingsStore> store;

    TempStore() : store(std::make_unique<SettingsStore>(SettingsStore::fileIn(dir.path()))) {}
    SettingsStore &operator*() { return *store; }
    SettingsStore *operator->() { return store.get(); }
    QString path() const { return store->fileName(); }
};

// One stored value as the programs read it, def when there is none.
inline QString readSetting(const SettingsStore &store, const QString &section, const QString &key, const QString &def)
{
    return store.values().value(section + QLatin1Char('/') + key, def);
}


// One simulated installation on the other end of the cable, and the program's
// side of it on virtual time: port, panel and the session of the checks.
// The port is opened by openPort(), so a test can prepare the store first.
struct CheckRig
{
    explicit CheckRig(const QString &scenario = QStringLiteral("ok"))
        : installation(*Scenario::parse(scenario)), port(installation, clock)
    {
    }
    void openPort() { session.openPort(Settings::load(*store)); }

    TempStore store;
    ManualClock clock;
    SimulatedInstallation installation;
    SimulatedPort port;
    RecordingPanel panel;
    CheckSession session {port, *store, clock, panel};
    CheckState &state = session.state();
    Stopwatch &watch = session.stopwatch();
    LineTests &tests = session.tests();
};
