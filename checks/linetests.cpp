#include "checks/linetests.h"

#include "checks/checkstate.h"
#include "checks/operatorpanel.h"
#include "link/exchange.h"
#include "link/serialport.h"
#include "link/settings.h"
#include "link/wait.h"

#include <QStringList>

namespace {

const QString kPortError = QStringLiteral("Ошибка открытия порта!!!");
const QString kPortLost = QStringLiteral("Порт закрылся во время проверки (адаптер отключён?): её итог недостоверен");

const QStringList kError1 = {
    QStringLiteral("ОШИБКА №1, возможные причины:"),
    QStringLiteral("- не подключен БС к Com-порту."),
    QStringLiteral("- БС подключен не к тому Com-порту"),
    QStringLiteral("- неисправен кабель связи PC-БС"),
    QStringLiteral("- неисправен Com-порт компьютера"),
    QStringLiteral("- неисправен БС"),
};
const QStringList kError2 = {
    QStringLiteral("ОШИБКА №2, возможные причины:"),
    QStringLiteral("- отсутствует питание БС"),
    QStringLiteral("- неисправен БС"),
};
const QStringList kError3 = {
    QStringLiteral("ОШИБКА №3, возможные причины:"),
    QStringLiteral("- обрыв линии связи БС - БСУ"),
    QStringLiteral("- неисправен БС"),
    QStringLiteral("- неисправен БСУ"),
};
const QStringList kError4 = {
    QStringLiteral("ОШИБКА №4, возможные причины:"),
    QStringLiteral("- отсутствует питание БСУ"),
    QStringLiteral("- неисправен БСУ"),
};

// "Принято = [...]" and, after a reply that filled the receive buffer without
// a line end, that the rest of it was dropped.
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
    const QString hex = QString::number(quint16(n), 16).toUpper();
    return hex.size() == 1 ? QLatin1Char('0') + hex : hex;
}

void LineTests::tellPortLost()
{
    m_panel.addMessage(kPortLost);
}

void LineTests::diagnose(int error, const QStringList &lines)
{
    m_lastVerdict = error;
    for (const QString &line : lines)
        m_panel.addMessage(line);
}

void LineTests::progress(const QString &line)
{
    if (!m_state.quietMode)
        m_panel.addMessage(line);
}

bool LineTests::portLost()
{
    // Lines that read as off and a reply that never came are no fault of the
    // cable or the БС when the port itself went away: no diagnosis then.
    if (m_port.isOpen())
        return false;
    m_lastVerdict = PortLost;
    tellPortLost();
    return true;
}

void LineTests::judgeLines(bool dsr, bool cts)
{
    if (!dsr) {
        diagnose(1, kError1);
        return;
    }
    if (!cts) {
        diagnose(2, kError2);
        return;
    }
    progress(QStringLiteral("Соединение с БС обнаружено"));
    const QString reply = cutAtFirstCr(sendCommand(m_port, m_wait, kBsuQuery, 500, m_replyEnd));
    m_lastLinkReply = reply;
    if (portLost())
        return;
    progress(receivedLine(reply));
    // An echo means the БС passes the query back: the БСУ is not there to take it.
    if (reply.contains(kBsuQuery)) {
        diagnose(4, kError4);
    } else if (reply.contains(kBsuIdentity)) {
        progress(QStringLiteral("Соединение с БСУ обнаружено"));
        progress(QStringLiteral("Тестирование прошло успешно"));
        m_state.linkOk = true;
        m_lastVerdict = LinkGood;
    } else {
        diagnose(3, kError3);
    }
}

int LineTests::linkTest()
{
    m_panel.setButtonEnabled(OperatorPanel::Button::LinkTest, false);
    m_state.linkOk = false;
    m_lastVerdict = PortNotOpen;
    m_lastLinkReply.clear();
    if (!m_port.isOpen()) {
        m_panel.addMessage(kPortError);
        // Enabled again so that the check can be repeated once the port is put right.
        m_panel.setButtonEnabled(OperatorPanel::Button::LinkTest, true);
        return m_lastVerdict;
    }
    m_port.setDtr(true);
    m_port.setRts(false);
    m_wait.wait(1000);

    const bool dsr = m_port.dsr();
    const bool cts = dsr && m_port.cts();
    if (!portLost())
        judgeLines(dsr, cts);
    m_panel.setButtonEnabled(OperatorPanel::Button::LinkTest, true);
    return m_lastVerdict;
}

BlockReading LineTests::queryBlock(qint16 n)
{
    BlockReading reading;
    reading.number = n;
    const QString number = QString::number(n);
    const QString address = blockAddress(n);
    reading.query = QLatin1Char('#') + address + QStringLiteral("02");
    m_panel.addMessage(number + QStringLiteral(": Запрос = [") + reading.query + QLatin1Char(']'));
    const qint64 startNs = m_wait.clockNs();
    reading.reply = cutAtFirstCr(sendCommand(m_port, m_wait, reading.query, 1000, m_replyEnd));
    reading.ms = (m_wait.clockNs() - startNs) / 1000000;
    if (!m_port.isOpen()) {
        reading.portLost = true;
        reading.reply.clear();
        return reading;
    }
    m_panel.addMessage(number + QStringLiteral(": ") + receivedLine(reading.reply));
    reading.answered = reading.reply.contains(QLatin1Char('@') + address);
    if (reading.answered)
        m_panel.addMessage(number + QStringLiteral(": Тестирование прошло успешно, блок отвечает"));
    else
        m_panel.addMessage(number + QStringLiteral(": Нет ответа от блока номер ") + number + QStringLiteral(" ?"));
    return reading;
}

void LineTests::blockCheck()
{
    m_panel.setButtonEnabled(OperatorPanel::Button::BlockCheck, false);
    m_lastBlock = BlockReading();
    if (!m_port.isOpen()) {
        m_panel.addMessage(kPortError);
        m_panel.setButtonEnabled(OperatorPanel::Button::BlockCheck, true);
        return;
    }
    m_state.quietMode = true;
    linkTest();
    if (m_state.linkOk) {
        m_port.setDtr(true);
        m_port.setRts(false);
        const int chosen = m_panel.blockListIndex() + 1;
        if (chosen < 1 || chosen > kBlockCount) {
            // Address 00 is the БСУ: no block of that number exists to query or remember.
            m_panel.addMessage(QStringLiteral("Не выбран блок: выберите номер от 1 до 32"));
        } else {
            m_state.blockNumber = qint16(chosen);
            // Saved before the query, whatever it finds: the next start preselects it.
            Settings::save(m_store, Settings::Key::Block, QString::number(m_state.blockNumber));
            m_lastBlock = queryBlock(m_state.blockNumber);
            if (m_lastBlock.portLost)
                tellPortLost();
        }
    }
    m_state.quietMode = false;
    m_panel.setButtonEnabled(OperatorPanel::Button::BlockCheck, true);
}
