#pragma once

#include "link/exchange.h"

#include <QString>

class OperatorPanel;
class SerialPort;
class SettingsStore;
class Stopwatch;
struct CheckState;

// One block's query and what came back, as the log shows them.
struct BlockReading
{
    int number = 0;
    QString query;          // "#0502"
    QString reply;          // up to its first CR
    bool answered = false;
    bool portLost = false;  // the port closed under the query: no result
    qint64 ms = 0;          // the exchange's time on the line
};

// The two diagnostics: the link test (COM port, БС, БСУ) and the block check.
class LineTests
{
public:
    LineTests(CheckState &state, SerialPort &port, Stopwatch &wait, SettingsStore &store,
              OperatorPanel &panel);

    // What the last link test found: 0 the БСУ answered, 1 to 4 the number of
    // the error written, -1 the port was not open, -2 the port closed during
    // the test (an adapter pulled): no verdict.
    enum { PortLost = -2, PortNotOpen = -1, LinkGood = 0 };
    static constexpr int kBlockCount = 32;
    // The БСУ's query, and the identity it answers with.
    static inline const QString kBsuQuery = QStringLiteral("#0002");
    static inline const QString kBsuIdentity = QStringLiteral("@00BSU");

    // The link test button; also the first step of the block check. Returns
    // its verdict, as lastLinkVerdict() keeps it.
    int linkTest();
    int lastLinkVerdict() const { return m_lastVerdict; }
    // The БСУ's reply in the last link test, up to its first CR ("" when the
    // test stopped before the query).
    QString lastLinkReply() const { return m_lastLinkReply; }
    // The block check button: the link test, quietly, then the selected block.
    void blockCheck();
    // Whether the block queried by the last block check answered (false when
    // the check stopped before its query).
    bool lastBlockAnswered() const { return m_lastBlock.answered; }
    // The block queried by the last block check (number 0 when none was).
    const BlockReading &lastBlock() const { return m_lastBlock; }

    // Queries block n as the block check does after a good link test and
    // writes its three lines. Saves nothing. When the port closes under the
    // query only the query line is written and the reading has portLost set:
    // the caller tells it (tellPortLost) once it has said what still holds.
    BlockReading queryBlock(qint16 n);

    // The one line for a check during which the port closed: what came
    // before it stands, and the check has no verdict.
    void tellPortLost();

    // How the waits for replies end: the buttons keep the full fixed waits;
    // a scan may end each one at its reply's line end.
    void setReplyEnd(ReplyEnd end) { m_replyEnd = end; }
    ReplyEnd replyEnd() const { return m_replyEnd; }

    static QString blockAddress(qint16 n);

private:
    void diagnose(int error, const QStringList &lines);
    void progress(const QString &line);
    // True, and told, when the port has closed since the check began.
    bool portLost();
    // The link test once the port has read its lines: the diagnosis, or the БСУ's query.
    void judgeLines(bool dsr, bool cts);

    CheckState &m_state;
    SerialPort &m_port;
    Stopwatch &m_wait;
    SettingsStore &m_store;
    OperatorPanel &m_panel;
    int m_lastVerdict = PortNotOpen;
    QString m_lastLinkReply;
    ReplyEnd m_replyEnd = ReplyEnd::FullWait;
    BlockReading m_lastBlock;
};
