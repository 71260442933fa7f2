#include "checks/blockscan.h"

#include "checks/operatorpanel.h"
#include "checks/blockranges.h"
#include "checks/blockstatistics.h"
#include "link/serialport.h"

#include <algorithm>

QList<int> ScanRound::answered() const
{
    QList<int> numbers;
    for (const BlockReading &block : blocks)
        if (block.answered)
            numbers << block.number;
    return numbers;
}

BlockScan::BlockScan(LineTests &tests, SerialPort &port, OperatorPanel &panel)
    : m_tests(tests), m_port(port), m_panel(panel), m_blocks(everyBlock())
{
}

QString BlockScan::summary(const QList<int> &answered, int queried)
{
    if (answered.isEmpty())
        return QStringLiteral("Ни один блок не отвечает");
    return QStringLiteral("Отвечают блоки: %1 (%2 из %3)")
        .arg(blockRanges(answered, QStringLiteral(", ")))
        .arg(answered.size())
        .arg(queried);
}

ScanRound BlockScan::run(ReplyEnd end, const QString &summaryPrefix)
{
    ScanRound round;
    round.link = m_tests.linkTest(end);
    round.portLost = round.link.verdict == LineTests::PortLost;
    onLinkTest(round.link);
    if (round.link.verdict == LineTests::LinkGood) {
        for (const int n : std::as_const(m_blocks)) {
            // An adapter pulled mid-scan would make every later block look silent.
            if (!m_port.isOpen()) {
                round.portLost = true;
                break;
            }
            if (m_stopRequested) {
                round.stopped = true;
                break;
            }
            const BlockReading reading = m_tests.queryBlock(qint16(n), end);
            // The block whose query the loss cut short has no result.
            if (reading.portLost) {
                round.portLost = true;
                break;
            }
            round.blocks << reading;
            onBlock(reading);
        }
        if (round.stopped)
            m_panel.addMessage(QStringLiteral("Проверка остановлена"));
        // What the blocks queried before the loss said still holds.
        if (!round.blocks.isEmpty())
            m_panel.addMessage(summaryPrefix + summary(round.answered(), int(round.blocks.size())));
        if (round.portLost)
            m_panel.addMessage(LineTests::kPortLost);
    }
    // The next round is a whole one again.
    m_stopRequested = false;
    return round;
}

void ScanTally::add(const ScanRound &round)
{
    ++m_rounds;
    for (const BlockReading &block : round.blocks) {
        Count &count = m_counts[block.number];
        ++count.queried;
        if (block.answered)
            ++count.answered;
    }
}

bool ScanTally::allAnswered() const
{
    return std::all_of(m_counts.cbegin(), m_counts.cend(), [](const Count &c) { return c.answered >= c.queried; });
}

QStringList ScanTally::lines() const
{
    QStringList lines;
    for (auto it = m_counts.cbegin(); it != m_counts.cend(); ++it) {
        const Count &count = it.value();
        if (count.answered == count.queried)
            continue;
        // Rounded down: a block that missed once never shows 100 %.
        lines << QStringLiteral("Блок %1: ответил %2 из %3 (%4 %)")
                     .arg(it.key())
                     .arg(count.answered)
                     .arg(count.queried)
                     .arg(count.answered * 100 / count.queried);
    }
    if (lines.isEmpty() && !m_counts.isEmpty())
        lines << QStringLiteral("Каждый опрошенный блок ответил в каждом круге");
    return lines;
}
