#include "checks/checksession.h"

#include "link/settings.h"
#include "link/serialport.h"

CheckSession::CheckSession(SerialPort &port, SettingsStore &store, Clock &clock, OperatorPanel &panel)
    : m_port(port), m_store(store), m_stopwatch(clock), m_tests(m_state, port, m_stopwatch, store, panel)
{
}

bool CheckSession::openPort(const Settings &settings, const QString &device)
{
    m_state.comPort = settings.comPort;
    m_state.baudRate = settings.baudRate;
    m_state.blockNumber = settings.blockNumber;
    return m_port.open(device.isEmpty() ? settings.deviceFor(settings.comPort) : device, settings.baudRate);
}
