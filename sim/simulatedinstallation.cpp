#include "sim/simulatedinstallation.h"

namespace {

// The address of a query line "#AA02" (AA two upper-case hex digits), or -1.
int queryAddress(const QByteArray &line)
{
    if (line.size() != 5 || line.at(0) != '#' || !line.endsWith("02"))
        return -1;
    int address = 0;
    for (const char c : line.mid(1, 2)) {
        const int digit = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
        if (digit < 0)
            return -1;
        address = address * 16 + digit;
    }
    return address;
}

} // namespace

bool SimulatedInstallation::dsr() const
{
    return m_scenario.cable;
}

bool SimulatedInstallation::cts() const
{
    // CTS reaches the PC over the same cable as DSR.
    return m_scenario.cable && m_scenario.power;
}

SimulatedInstallation::Reply SimulatedInstallation::answer(const QByteArray &line) const
{
    Reply reply;
    reply.latencyMs = m_scenario.late ? kLateLatencyMs : kLatencyMs;
    if (!dsr() || !cts() || m_scenario.lineBreak)
        return reply;

    QByteArray text;
    if (m_scenario.bsuOff) {
        // The unpowered БСУ leaves its line looped back: whatever went out comes back.
        text = line;
    } else {
        const int address = queryAddress(line);
        if (address == 0) {
            text = "@00BSU";
        } else if (address >= 1 && address <= 32 && m_scenario.blocks.test(size_t(address))) {
            // An intermittent block: a loose contact that drops every other query.
            if (m_scenario.flaky.test(size_t(address)) && m_flakyQueries[size_t(address)]++ % 2 == 1)
                return reply;
            // Each block reports a temperature of its own, so replies are told apart.
            text = '@' + QByteArray::number(address, 16).toUpper().rightJustified(2, '0') + "T+"
                   + QByteArray::number(18.0 + address * 0.5, 'f', 1);
        } else {
            return reply;
        }
    }
    reply.bytes = text + "\r\n";
    if (m_scenario.noise)
        reply.bytes = QByteArray("\x07\x1B", 2) + reply.bytes + QByteArray(1, '\0');
    return reply;
}

QByteArray SimulatedInstallation::lineNoise() const
{
    if (!m_scenario.noise || !m_scenario.cable)
        return {};
    return QByteArray("\x1B\x00\x07", 3);
}

QList<SimulatedInstallation::Send> SimulatedInstallation::respond(const QByteArray &line) const
{
    QList<Send> sends;
    const Reply reply = answer(line);
    if (!reply.bytes.isEmpty())
        sends << Send{reply.latencyMs, reply.bytes, false};
    const QByteArray noise = lineNoise();
    if (!noise.isEmpty())
        sends << Send{reply.latencyMs + kNoiseAfterMs, noise, true};
    return sends;
}
