#pragma once

#include <QString>

class OperatorPanel;
class SerialPort;
class SettingsStore;
class Stopwatch;
struct CheckState;

// The two diagnostics: the link test (COM port, БС, БСУ) and the block check.
class LineTests
{
public:
    LineTests(CheckState &state, SerialPort &port, Stopwatch &wait, SettingsStore &store,
              OperatorPanel &panel);

    // What the last link test found: 0 the БСУ answered, 1 to 4 the number of
    // the error written, -1 the port was not open.
    enum { PortNotOpen = -1, LinkGood = 0 };
    static constexpr int kBlockCount = 32;

    // The link test button; also the first step of the block check.
    void linkTest();
    int lastLinkVerdict() const { return m_lastVerdict; }
    // The block check button: the link test, quietly, then the selected block.
    void blockCheck();
    // Whether the block queried by the last block check answered (false when
    // the check stopped before its query).
    bool lastBlockAnswered() const { return m_lastBlockAnswered; }

    // Queries block n as the block check does after a good link test, writes
    // its three lines and tells whether it answered. Saves nothing.
    bool queryBlock(qint16 n);

    static QString blockAddress(qint16 n);

private:
    CheckState &m_state;
    SerialPort &m_port;
    Stopwatch &m_wait;
    SettingsStore &m_store;
    OperatorPanel &m_panel;
    int m_lastVerdict = PortNotOpen;
    bool m_lastBlockAnswered = false;
};
