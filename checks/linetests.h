#pragma once

#include "link/exchange.h"

#include <QStringList>

class OperatorPanel;
class SerialPort;
class SettingsStore;
class Stopwatch;

// What the checks of one window (or one run of linkprobe-check) share for as long as it lives.
struct CheckState
{
    qint16 comPort = 0;        // COM port number in use
    qint32 baudRate = 0;       // baud rate in use
    qint16 blockNumber = 0;    // block last chosen, 1 to 32 after every opening of the port
};

// What the link test found: its verdict (0 the БСУ answered, 1 to 4 the number of the error written,
// -1 the port was not open, -2 the port closed during the test: no verdict) and the lines it wrote.
struct LinkResult
{
    int verdict = -1;
    QString reply;          // the БСУ's, up to its first CR ("" when the test stopped before the query)
    qint64 ms = 0;          // the query's time on the line
    QStringList lines;
};

// One block's query and what came back, as the log shows them.
struct BlockReading
{
    int number = 0;
    QString query;          // "#0502"
    QString reply;          // up to its first CR
    bool answered = false;
    bool portLost = false;  // the port closed under the query: no result
    qint64 ms = 0;          // the exchange's time on the line
    QStringList lines;
};

// The block check: its link test, and the block it queried (number 0 when none was).
struct BlockCheckResult
{
    LinkResult link;
    BlockReading block;
};

// The two diagnostics: the link test (COM port, БС, БСУ) and the block check.
class LineTests
{
public:
    LineTests(CheckState &state, SerialPort &port, Stopwatch &wait, SettingsStore &store,
              OperatorPanel &panel);

    enum { PortLost = -2, PortNotOpen = -1, LinkGood = 0 };
    // The БСУ's query, and the identity it answers with.
    static inline const QString kBsuQuery = QStringLiteral("#0002");
    static inline const QString kBsuIdentity = QStringLiteral("@00BSU");
    // The one line for a check during which the port closed: what came before stands, there is no verdict.
    static inline const QString kPortLost =
        QStringLiteral("Порт закрылся во время проверки (адаптер отключён?): её итог недостоверен");

    // The link test button; also the first step of the block check. `end` says how its reply wait ends:
    // the buttons keep the full fixed wait, a scan may end it at the reply's line end.
    LinkResult linkTest(ReplyEnd end) { return runLinkTest(end, false); }
    // The block check button: the link test, quietly, then block `number`
    // (1 to 32; any other is refused with a line and nothing is queried).
    BlockCheckResult blockCheck(int number, ReplyEnd end);

    // Queries block n as the block check does after a good link test and writes its three lines; saves
    // nothing. When the port closes under the query only the query line is written and the reading has
    // portLost set: the caller tells it (kPortLost) once it has said what still holds.
    BlockReading queryBlock(qint16 n, ReplyEnd end);

    static QString blockAddress(qint16 n);

private:
    LinkResult runLinkTest(ReplyEnd end, bool quiet);
    // The link test once the port has read its lines: the diagnosis, or the БСУ's query.
    void judgeLines(LinkResult &result, bool dsr, bool cts, ReplyEnd end, bool quiet);
    // Sends query and returns its reply up to the first CR, with its time on the line.
    QString ask(const QString &query, int waitMs, ReplyEnd end, qint64 &ms);
    // True, and told, when the port has closed since the check began.
    bool portLost(LinkResult &result);
    void say(QStringList &lines, const QString &text);

    CheckState &m_state;
    SerialPort &m_port;
    Stopwatch &m_wait;
    SettingsStore &m_store;
    OperatorPanel &m_panel;
};
