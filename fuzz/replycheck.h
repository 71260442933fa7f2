#pragma once

// The reply path end to end: bytes from the line, through sendCommand's
// masking and the cut at the first CR, to the markers and the lines the
// checks write. Runs the real LineTests against a port that plays back given
// bytes as the reply, in virtual time, and says what went wrong, if anything.
// Used by the fuzzer and, on its corpus, by the ordinary tests.

#include "checks/checksession.h"
#include "link/clock.h"
#include "link/cp1251.h"
#include "link/serialport.h"
#include "link/settingsstore.h"
#include "tests/support/recordingpanel.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <limits>

namespace replycheck {

using namespace Qt::Literals::StringLiterals;

// One run: which check, the modem lines, and what the line brings back.
struct Case
{
    bool blockCheck = false;
    bool quiet = false;        // the link test as the block check runs it, with no block chosen
    bool dsr = true;
    bool cts = true;
    int block = 1;             // the block chosen, 0 (none) to 32
    QByteArray bsuReply;       // the answer to #0002
    QByteArray blockReply;     // the answer to the block's query
};

// Input layout: flags (bit 0 block check, bit 1 quiet, bit 2 DSR off, bit 3
// CTS off), the block chosen (byte % 33), and then the reply. For a block
// check the БСУ's reply comes first, preceded by its length in one byte, and
// the block's reply is the rest.
inline Case decode(const uint8_t *data, size_t size)
{
    Case c;
    size_t pos = 0;
    const auto next = [&]() -> uint8_t { return pos < size ? data[pos++] : 0; };
    const uint8_t flags = next();
    c.blockCheck = flags & 1;
    c.quiet = flags & 2;
    c.dsr = !(flags & 4);
    c.cts = !(flags & 8);
    c.block = next() % 33;
    const auto take = [&](size_t n) {
        n = n < size - pos ? n : size - pos;
        const QByteArray bytes(reinterpret_cast<const char *>(data + pos), qsizetype(n));
        pos += n;
        return bytes;
    };
    if (c.blockCheck) {
        const size_t length = pos < size ? next() : 0;
        c.bsuReply = take(length);
        c.blockReply = take(size);
    } else {
        c.bsuReply = take(size);
    }
    return c;
}

// Plays the scripted replies back, one per line sent; the modem lines are fixed.
class ScriptedPort : public SerialPort
{
public:
    ScriptedPort(bool dsr, bool cts, QList<QByteArray> replies)
        : m_dsr(dsr), m_cts(cts), m_replies(std::move(replies)) {}

    bool open(const QString &, qint32) override { return m_open = true; }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    QString openError() const override { return QString(); }
    QString device() const override { return QStringLiteral("COM1"); }
    qint32 baudRate() const override { return 4800; }
    bool setBaudRate(qint32 baudRate) override { return m_open && baudRate == 4800; }
    qsizetype bytesWaiting() override { return m_in.size(); }
    QByteArray readAll() override
    {
        QByteArray bytes;
        bytes.swap(m_in);
        return bytes;
    }
    void write(const QByteArray &bytes) override
    {
        written += bytes;
        if (!m_replies.isEmpty())
            m_in += m_replies.takeFirst();
    }
    bool dtr() const override { return m_dtr; }
    void setDtr(bool on) override { m_dtr = on; }
    bool rts() const override { return m_rts; }
    void setRts(bool on) override { m_rts = on; }
    bool dsr() override { return m_open && m_dsr; }
    bool cts() override { return m_open && m_cts; }

    QByteArray written;

private:
    bool m_open = true;
    bool m_dsr;
    bool m_cts;
    bool m_dtr = false;
    bool m_rts = true;
    QByteArray m_in;
    QList<QByteArray> m_replies;
};

// What the operator must see of a reply: each byte one character, control
// bytes (LF too) as "?", the rest through code page 1251, and nothing from
// the first CR on.
inline QString shownReply(const QByteArray &bytes)
{
    QString text;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b == 13)
            break;
        text += b < 32 ? QChar(u'?') : cp1251ToUnicode(b);
    }
    return text;
}

inline QString blockAddress(int n)
{
    static const char digits[] = "0123456789ABCDEF";
    return QString(QChar(digits[(n >> 4) & 15])) + QChar(digits[n & 15]);
}

// The lines of the link test for a reply already cut, and whether it found the БСУ.
inline QStringList linkLines(const Case &c, bool quiet, const QString &reply, bool *linkOk)
{
    *linkOk = false;
    if (!c.dsr)
        return {u"ОШИБКА №1, возможные причины:"_s, u"- не подключен БС к Com-порту."_s,
                u"- БС подключен не к тому Com-порту"_s, u"- неисправен кабель связи PC-БС"_s,
                u"- неисправен Com-порт компьютера"_s, u"- неисправен БС"_s};
    if (!c.cts)
        return {u"ОШИБКА №2, возможные причины:"_s, u"- отсутствует питание БС"_s, u"- неисправен БС"_s};
    QStringList lines;
    if (!quiet)
        lines << u"Соединение с БС обнаружено"_s << u"Принято = ["_s + reply + u']';
    if (reply.contains(u"#0002"_s)) {
        lines << u"ОШИБКА №4, возможные причины:"_s << u"- отсутствует питание БСУ"_s << u"- неисправен БСУ"_s;
    } else if (reply.contains(u"@00BSU"_s)) {
        *linkOk = true;
        if (!quiet)
            lines << u"Соединение с БСУ обнаружено"_s << u"Тестирование прошло успешно"_s;
    } else {
        lines << u"ОШИБКА №3, возможные причины:"_s << u"- обрыв линии связи БС - БСУ"_s << u"- неисправен БС"_s
              << u"- неисправен БСУ"_s;
    }
    return lines;
}

inline QString describe(const QStringList &lines)
{
    QString text;
    for (const QString &line : lines) {
        QString shown;
        for (const QChar ch : line)
            shown += ch.unicode() < 32 ? QStringLiteral("\\x%1").arg(ch.unicode(), 2, 16, QLatin1Char('0')) : QString(ch);
        text += QStringLiteral("  [") + shown + QStringLiteral("]\n");
    }
    return text;
}

// Runs the case and returns "" when everything holds, or what did not.
inline QString check(const Case &c)
{
    QList<QByteArray> replies{c.bsuReply};
    if (c.blockCheck)
        replies << c.blockReply;
    ScriptedPort port(c.dsr, c.cts, replies);
    ManualClock clock;
    // The block number stays in memory: no file is written for a fuzz run.
    SettingsStore store{QString()};
    store.save({QStringLiteral("NBLOCK"), QStringLiteral("BLOCK"), QStringLiteral("untouched")});
    RecordingPanel panel;
    CheckSession session(port, store, clock, panel);
    CheckState &state = session.state();
    state.blockNumber = 7;
    LineTests &tests = session.tests();

    BlockCheckResult result;
    if (c.blockCheck || c.quiet)
        result = tests.blockCheck(c.blockCheck ? c.block : 0, ReplyEnd::FullWait);
    else
        result.link = tests.linkTest(ReplyEnd::FullWait);

    const QString bsuShown = shownReply(c.bsuReply);
    bool linkOk = false;
    QStringList expected = linkLines(c, c.blockCheck || c.quiet, bsuShown, &linkOk);
    QByteArray sent = (c.dsr && c.cts) ? QByteArrayLiteral("#0002\r\n") : QByteArray();
    qint64 fixedMs = (c.dsr && c.cts) ? 1500 : 1000;
    const int n = c.blockCheck ? c.block : 0;
    // No entry selected names no block: nothing is queried or saved.
    const bool blockQueried = c.blockCheck && linkOk && n >= 1;
    bool blockAnswers = false;
    if ((c.blockCheck || c.quiet) && linkOk && n < 1)
        expected << u"Не выбран блок: выберите номер от 1 до 32"_s;
    if (blockQueried) {
        const QString no = QString::number(n);
        const QString address = blockAddress(n);
        const QString reply = shownReply(c.blockReply);
        expected << no + u": Запрос = [#"_s + address + u"02]"_s << no + u": Принято = ["_s + reply + u']';
        blockAnswers = reply.contains(u'@' + address);
        if (blockAnswers)
            expected << no + u": Тестирование прошло успешно, блок отвечает"_s;
        else
            expected << no + u": Нет ответа от блока номер "_s + no + u" ?"_s;
        sent += '#' + address.toLatin1() + "02\r\n";
        fixedMs += 1000;
    }

    QString failures;
    const auto fail = [&failures](const QString &what) { failures += what + u'\n'; };
    if (panel.lines != expected)
        fail(u"lines written:\n"_s + describe(panel.lines) + u"lines expected:\n"_s + describe(expected));
    for (const QString &line : panel.lines) {
        // A line of the log is one line: no control character, whatever the reply.
        for (const QChar ch : line) {
            if (ch.unicode() < 32) {
                fail(u"control character in a line:\n"_s + describe({line}));
                break;
            }
        }
    }
    if (result.link.lines + result.block.lines != panel.lines)
        fail(u"lines returned:\n"_s + describe(result.link.lines + result.block.lines));
    if ((result.link.verdict == LineTests::LinkGood) != linkOk)
        fail(QStringLiteral("verdict %1").arg(result.link.verdict));
    if (c.dsr && c.cts && result.link.reply != bsuShown)
        fail(u"link reply returned: "_s + result.link.reply);
    if (result.block.number != (blockQueried ? n : 0) || result.block.answered != blockAnswers)
        fail(QStringLiteral("block %1 returned, answered %2").arg(result.block.number).arg(result.block.answered));
    if (port.written != sent)
        fail(u"sent on the line: "_s + QString::fromLatin1(port.written.toPercentEncoding()));
    if (clock.now() < fixedMs)
        fail(QStringLiteral("the checks took %1 ms of virtual time, less than the fixed %2 ms").arg(clock.now()).arg(fixedMs));
    if (!panel.linkTestEnabled || !panel.blockCheckEnabled)
        fail(u"a button is left disabled"_s);
    if (c.dsr && c.cts && (!port.dtr() || port.rts()))
        fail(u"DTR is not on or RTS not off"_s);
    if (c.blockCheck) {
        const QString saved = store.values().value(QStringLiteral("NBLOCK/BLOCK"));
        const QString expectSaved = blockQueried ? QString::number(n) : QStringLiteral("untouched");
        if (saved != expectSaved)
            fail(u"saved block number "_s + saved);
        if (state.blockNumber != (blockQueried ? n : 7))
            fail(QStringLiteral("blockNumber %1").arg(state.blockNumber));
    }
    return failures;
}

} // namespace replycheck
