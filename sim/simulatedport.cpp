#include "sim/simulatedport.h"

#include "link/clock.h"

#include <utility>

namespace {
constexpr qint64 kBitsPerByte = 10;   // start bit, 8 data bits, stop bit
}

SimulatedPort::SimulatedPort(SimulatedInstallation &installation, Clock &clock, QObject *parent)
    : SerialPort(parent), m_installation(installation), m_clock(clock)
{
}

bool SimulatedPort::isOpen() const
{
    // Gone with its adapter, it reads as closed at once; the next operation on it announces the loss.
    return m_open && !m_installation.scenario().unplugged;
}

void SimulatedPort::close()
{
    checkLost();
    if (std::exchange(m_open, false))
        discardInFlight();
}

bool SimulatedPort::open(const QString &device, qint32 baudRate)
{
    SimulatedPort::close();
    m_device = device;
    m_baudRate = baudRate;
    const bool unplugged = m_installation.scenario().unplugged;
    m_openError = unplugged ? QStringLiteral("адаптер отключён (сценарий unplugged)") : QString();
    if (baudRate <= 0 || baudRate > m_highestRate || unplugged)
        return false;
    m_open = true;
    discardInFlight();
    m_written.clear();
    ++m_openCount;
    return true;
}

bool SimulatedPort::setBaudRate(qint32 baudRate)
{
    checkLost();
    if (!m_open || baudRate <= 0 || baudRate > m_highestRate)
        return false;
    m_baudRate = baudRate;
    return true;
}

qsizetype SimulatedPort::bytesWaiting()
{
    checkLost();
    return m_buffer.size();
}

void SimulatedPort::write(const QByteArray &bytes)
{
    checkLost();
    if (!m_open)
        return;
    m_written += bytes;
    if (m_written.size() > 2 * kWrittenKept)
        m_written.remove(0, m_written.size() - kWrittenKept);
    for (const QByteArray &line : m_queries.take(bytes)) {
        const qint64 now = m_clock.now();
        for (const SimulatedInstallation::Send &send : m_installation.respond(line))
            deliver(send.bytes, now + send.afterMs);
    }
}

bool SimulatedPort::dsr()
{
    checkLost();
    return m_open && m_installation.dsr();
}

bool SimulatedPort::cts()
{
    checkLost();
    return m_open && m_installation.cts();
}

void SimulatedPort::setUnplugged(bool unplugged)
{
    m_installation.scenario().unplugged = unplugged;
    checkLost();
}

void SimulatedPort::arrive(const QByteArray &bytes)
{
    for (const char byte : bytes)
        receiveInFlight(byte, m_generation);
}

void SimulatedPort::deliver(const QByteArray &bytes, qint64 startAt)
{
    // Each byte arrives once its last bit is in, never earlier, in whole milliseconds.
    const auto endOf = [this](qint64 start, qint64 count) {
        return start + (count * kBitsPerByte * 1000 + m_baudRate - 1) / m_baudRate;
    };
    const qint64 start = qMax(startAt, m_busyUntil);
    const quint64 generation = m_generation;
    for (int i = 0; i < bytes.size(); ++i) {
        const char byte = bytes.at(i);
        m_clock.callAt(endOf(start, i + 1), this, [this, byte, generation] { receiveInFlight(byte, generation); });
    }
    m_busyUntil = endOf(start, bytes.size());
}

void SimulatedPort::receiveInFlight(char byte, quint64 generation)
{
    checkLost();
    if (generation == m_generation && m_open)
        receive(&byte, 1);
}

void SimulatedPort::discardInFlight()
{
    ++m_generation;
    m_buffer.clear();
    m_queries.clear();
    m_busyUntil = 0;
}

void SimulatedPort::checkLost()
{
    if (!m_open || !m_installation.scenario().unplugged)
        return;
    m_open = false;
    discardInFlight();
    emit lost();
}
