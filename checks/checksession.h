#pragma once

#include "checks/linetests.h"
#include "link/wait.h"

struct Settings;

// Everything one operator's checks share, wired once: the state, the stopwatch of every wait, the
// checks, and the opening of the port. The window, linkprobe-check and the tests each hold one.
class CheckSession
{
public:
    CheckSession(SerialPort &port, SettingsStore &store, Clock &clock, OperatorPanel &panel);

    // Takes the settings' port, rate and block into the state and (re)opens the port: the COM port's
    // device, or `device` when one is given. Silent when it does not open: the status bar and checks tell.
    bool openPort(const Settings &settings, const QString &device = QString());

    CheckState &state() { return m_state; }
    const CheckState &state() const { return m_state; }
    Stopwatch &stopwatch() { return m_stopwatch; }
    LineTests &tests() { return m_tests; }
    SerialPort &port() { return m_port; }
    SettingsStore &store() { return m_store; }

private:
    SerialPort &m_port;
    SettingsStore &m_store;
    CheckState m_state;
    Stopwatch m_stopwatch;
    LineTests m_tests;
};
