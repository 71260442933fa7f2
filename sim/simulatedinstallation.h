#pragma once

#include "sim/scenario.h"

#include <QByteArray>
#include <array>
#include <QList>

// The chain behind the COM port: the БС on its cable, the БСУ at address 00
// and up to 32 blocks. It answers query lines "#" + two hex digits + "02".
class SimulatedInstallation
{
public:
    explicit SimulatedInstallation(const Scenario &scenario = Scenario()) : m_scenario(scenario) {}

    Scenario &scenario() { return m_scenario; }
    const Scenario &scenario() const { return m_scenario; }

    // DSR: the cable is attached; CTS: the БС is powered, and it reaches the PC over the same cable.
    bool dsr() const { return m_scenario.cable; }
    bool cts() const { return m_scenario.cable && m_scenario.power; }

    // The reply's bytes for one line sent by the PC (without its CR LF); empty when nothing comes back.
    QByteArray answer(const QByteArray &line) const;

    // What goes back for one query line, and when: the reply after the latency, then the noise between queries.
    struct Send
    {
        qint64 afterMs = 0;   // from the end of the query line
        QByteArray bytes;
        bool noise = false;
    };
    QList<Send> respond(const QByteArray &line) const;

    static constexpr qint64 kLatencyMs = 30;
    static constexpr qint64 kLateLatencyMs = 1200;
    static constexpr qint64 kNoiseAfterMs = 600;   // after the reply's start, between queries

private:
    Scenario m_scenario;
    mutable std::array<int, 33> m_flakyQueries{};   // queries each flaky block has had
};
