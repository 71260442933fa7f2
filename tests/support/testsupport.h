#pragma once

#include "checks/linetests.h"
#include "link/clock.h"
#include "link/openport.h"
#include "link/settingsstore.h"
#include "link/telstate.h"
#include "link/wait.h"
#include "sim/simulatedport.h"
#include "tests/support/recordingpanel.h"

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


// One simulated installation on the other end of the cable, and the program's
// side of it on virtual time: port, state, stopwatch, checks and a panel.
// The port is opened by openPort(), so a test can prepare the store first.
struct CheckRig
{
    explicit CheckRig(const QString &scenario = QStringLiteral("ok"))
        : installation(*Scenario::parse(scenario)), port(installation, clock), watch(clock),
          tests(state, port, watch, *store, panel)
    {
    }
    void openPort() { OpenPort(state, port, *store); }

    TempStore store;
    ManualClock clock;
    SimulatedInstallation installation;
    SimulatedPort port;
    TelState state;
    Stopwatch watch;
    RecordingPanel panel;
    LineTests tests;
};
