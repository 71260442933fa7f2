#include "sim/simulatedinstallation.h"

#include <QRegularExpression>

namespace {

// The address of a query line "#AA02" (AA two upper-case hex digits), or -1.
int queryAddress(const QByteArray &line)
{
    static const QRegularExpression query(QRegularExpression::anchoredPattern(QStringLiteral("#([0-9A-F]{2})02")));
    const QRegularExpressionMatch match = query.match(QString::fromLatin1(line));
    return match.hasMatch() ? match.captured(1).toInt(nullptr, 16) : -1;
}

} // namespace

QByteArray SimulatedInstallation::answer(const QByteArray &line) const
{
    if (!dsr() || !cts() || m_scenario.lineBreak)
        return {};
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
                return {};
            // Each block reports a temperature of its own, so replies are told apart.
            text = '@' + QByteArray::number(address, 16).toUpper().rightJustified(2, '0') + "T+"
                   + QByteArray::number(18.0 + address * 0.5, 'f', 1);
        } else {
            return {};
        }
    }
    if (m_scenario.noise)
        return QByteArray("\x07\x1B", 2) + text + "\r\n" + QByteArray(1, '\0');
    return text + "\r\n";
}

QList<SimulatedInstallation::Send> SimulatedInstallation::respond(const QByteArray &line) const
{
    QList<Send> sends;
    const qint64 latencyMs = m_scenario.late ? kLateLatencyMs : kLatencyMs;
    const QByteArray reply = answer(line);
    if (!reply.isEmpty())
        sends << Send{latencyMs, reply, false};
    // Bytes the line carries between queries, when it is noisy.
    if (m_scenario.noise && m_scenario.cable)
        sends << Send{latencyMs + kNoiseAfterMs, QByteArray("\x1B\x00\x07", 3), true};
    return sends;
}
