#pragma once

#include "sim/scenario.h"

#include <QByteArray>

// The chain behind the COM port: the БС on its cable, the БСУ at address 00
// and up to 32 blocks. It answers query lines "#" + two hex digits + "02".
class SimulatedInstallation
{
public:
    explicit SimulatedInstallation(const Scenario &scenario = Scenario()) : m_scenario(scenario) {}

    Scenario &scenario() { return m_scenario; }
    const Scenario &scenario() const { return m_scenario; }

    bool dsr() const;   // the cable is attached
    bool cts() const;   // the БС is powered

    struct Reply
    {
        QByteArray bytes;   // empty: nothing comes back
        qint64 latencyMs = 0;
    };
    // What comes back for one line sent by the PC (without its CR LF).
    Reply answer(const QByteArray &line) const;

    // Bytes the line carries between queries, when it is noisy.
    QByteArray lineNoise() const;

    static constexpr qint64 kLatencyMs = 30;
    static constexpr qint64 kLateLatencyMs = 1200;

private:
    Scenario m_scenario;
};
