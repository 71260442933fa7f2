#include "checks/checksession.h"

#include "link/openport.h"
#include "link/serialport.h"

CheckSession::CheckSession(SerialPort &port, SettingsStore &store, Clock &clock, OperatorPanel &panel)
    : m_port(port), m_store(store), m_stopwatch(clock), m_tests(m_state, port, m_stopwatch, store, panel)
{
}

bool CheckSession::openPort(const QString &device)
{
    const SavedPortSettings saved = readSavedPortSettings(m_store);
    m_state.comPort = saved.comPort;
    m_state.baudRate = saved.baudRate;
    m_state.blockNumber = saved.blockNumber;
    return m_port.open(device.isEmpty() ? deviceForComPort(m_store, saved.comPort) : device, saved.baudRate);
}
