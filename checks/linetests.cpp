#include "checks/linetests.h"

#include "checks/blockstatistics.h"
#include "checks/operatorpanel.h"
#include "link/serialport.h"
#include "link/settings.h"
#include "link/wait.h"

namespace {

const QString kPortError = QStringLiteral("Ошибка открытия порта!!!");

// The possible causes of errors 1 to 4, as the diagnosis lists them under its heading.
const QStringList kCauses[] = {
    {QStringLiteral("- не подключен БС к Com-порту."),
     QStringLiteral("- БС подключен не к тому Com-порту"),
     QStringLiteral("- неисправен кабель связи PC-БС"),
     QStringLiteral("- неисправен Com-порт компьютера"),
     QStringLiteral("- неисправен БС")},
    {QStringLiteral("- отсутствует питание БС"), QStringLiteral("- неисправен БС")},
    {QStringLiteral("- обрыв линии связи БС - БСУ"),
     QStringLiteral("- неисправен БС"),
     QStringLiteral("- неисправен БСУ")},
    {QStringLiteral("- отсутствует питание БСУ"), QStringLiteral("- неисправен БСУ")},
};

// "Принято = [...]" and, after a reply that filled the receive buffer without a line end, that the rest was dropped.
QString receivedLine(const QString &reply)
{
    QString line = QStringLiteral("Принято = [") + reply + QLatin1Char(']');
    if (replyFilledBuffer(reply))
        line += QStringLiteral(" - ответ без конца строки длиннее %1 байт, остальное отброшено")
                    .arg(SerialPort::kReceiveBufferBytes);
    return line;
}

} // namespace

LineTests::LineTests(CheckState &state, SerialPort &port, Stopwatch &wait, SettingsStore &store,
                     OperatorPanel &panel)
    : m_state(state), m_port(port), m_wait(wait), m_store(store), m_panel(panel)
{
}

QString LineTests::blockAddress(qint16 n)
{
    return QString::number(quint16(n), 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

void LineTests::say(QStringList &lines, const QString &text)
{
    m_panel.addMessage(text);
    lines << text;
}

QString LineTests::ask(const QString &query, int waitMs, ReplyEnd end, qint64 &ms)
{
    const qint64 startNs = m_wait.clockNs();
    const QString reply = cutAtFirstCr(sendCommand(m_port, m_wait, query, waitMs, end));
    ms = (m_wait.clockNs() - startNs) / 1000000;
    return reply;
}

bool LineTests::portLost(LinkResult &result)
{
    // Lines read as off and a missing reply are no fault of the cable or the БС when the port went away.
    if (m_port.isOpen())
        return false;
    result.verdict = PortLost;
    say(result.lines, kPortLost);
    return true;
}

void LineTests::judgeLines(LinkResult &result, bool dsr, bool cts, ReplyEnd end, bool quiet)
{
    // Quiet (inside the block check), only the diagnosis is written.
    const auto progress = [&](const QString &line) {
        if (!quiet)
            say(result.lines, line);
    };
    const auto diagnose = [&](int error) {
        result.verdict = error;
        say(result.lines, QStringLiteral("ОШИБКА №%1, возможные причины:").arg(error));
        for (const QString &line : kCauses[error - 1])
            say(result.lines, line);
    };
    if (!dsr)
        return diagnose(1);
    if (!cts)
        return diagnose(2);
    progress(QStringLiteral("Соединение с БС обнаружено"));
    result.reply = ask(kBsuQuery, 500, end, result.ms);
    if (portLost(result))
        return;
    progress(receivedLine(result.reply));
    // An echo means the БС passes the query back: the БСУ is not there to take it.
    if (result.reply.contains(kBsuQuery)) {
        diagnose(4);
    } else if (result.reply.contains(kBsuIdentity)) {
        progress(QStringLiteral("Соединение с БСУ обнаружено"));
        progress(QStringLiteral("Тестирование прошло успешно"));
        result.verdict = LinkGood;
    } else {
        diagnose(3);
    }
}

LinkResult LineTests::runLinkTest(ReplyEnd end, bool quiet)
{
    LinkResult result;
    m_panel.setButtonEnabled(OperatorPanel::Button::LinkTest, false);
    if (!m_port.isOpen()) {
        say(result.lines, kPortError);
        // Enabled again so that the check can be repeated once the port is put right.
        m_panel.setButtonEnabled(OperatorPanel::Button::LinkTest, true);
        return result;
    }
    m_port.setDtr(true);
    m_port.setRts(false);
    m_wait.wait(1000);

    const bool dsr = m_port.dsr();
    const bool cts = dsr && m_port.cts();
    if (!portLost(result))
        judgeLines(result, dsr, cts, end, quiet);
    m_panel.setButtonEnabled(OperatorPanel::Button::LinkTest, true);
    return result;
}

BlockReading LineTests::queryBlock(qint16 n, ReplyEnd end)
{
    BlockReading reading;
    reading.number = n;
    const QString number = QString::number(n);
    const QString address = blockAddress(n);
    reading.query = QLatin1Char('#') + address + QStringLiteral("02");
    say(reading.lines, number + QStringLiteral(": Запрос = [") + reading.query + QLatin1Char(']'));
    reading.reply = ask(reading.query, 1000, end, reading.ms);
    if (!m_port.isOpen()) {
        reading.portLost = true;
        reading.reply.clear();
        return reading;
    }
    say(reading.lines, number + QStringLiteral(": ") + receivedLine(reading.reply));
    reading.answered = reading.reply.contains(QLatin1Char('@') + address);
    if (reading.answered)
        say(reading.lines, number + QStringLiteral(": Тестирование прошло успешно, блок отвечает"));
    else
        say(reading.lines, number + QStringLiteral(": Нет ответа от блока номер ") + number + QStringLiteral(" ?"));
    return reading;
}

BlockCheckResult LineTests::blockCheck(int number, ReplyEnd end)
{
    BlockCheckResult result;
    m_panel.setButtonEnabled(OperatorPanel::Button::BlockCheck, false);
    if (!m_port.isOpen()) {
        say(result.link.lines, kPortError);
        m_panel.setButtonEnabled(OperatorPanel::Button::BlockCheck, true);
        return result;
    }
    result.link = runLinkTest(end, true);
    if (result.link.verdict == LinkGood) {
        m_port.setDtr(true);
        m_port.setRts(false);
        if (number < 1 || number > BlockStatistics::kBlocks) {
            // Address 00 is the БСУ: no block of that number exists to query or remember.
            say(result.block.lines, QStringLiteral("Не выбран блок: выберите номер от 1 до 32"));
        } else {
            m_state.blockNumber = qint16(number);
            // Saved before the query, whatever it finds: the next start preselects it.
            Settings::save(m_store, Settings::Key::Block, QString::number(m_state.blockNumber));
            result.block = queryBlock(m_state.blockNumber, end);
            if (result.block.portLost)
                say(result.block.lines, kPortLost);
        }
    }
    m_panel.setButtonEnabled(OperatorPanel::Button::BlockCheck, true);
    return result;
}
