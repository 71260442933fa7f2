#include "checks/blockstatistics.h"

#include "checks/linetests.h"
#include "checks/blockranges.h"

#include <algorithm>
#include <numeric>

QString blockStateWord(BlockState state)
{
    switch (state) {
    case BlockState::NotAsked: return QStringLiteral("не опрошен");
    case BlockState::Answering: return QStringLiteral("отвечает");
    case BlockState::Intermittent: return QStringLiteral("с перебоями");
    case BlockState::Silent: return QStringLiteral("не отвечает");
    case BlockState::NotInstalled: return QStringLiteral("не установлен");
    }
    return QString();
}

QString linkVerdictWords(int verdict)
{
    switch (verdict) {
    case LineTests::LinkGood: return QStringLiteral("связь в порядке");
    case LineTests::PortNotOpen: return QStringLiteral("порт не открыт");
    case LineTests::PortLost: return QStringLiteral("порт закрылся, итог недостоверен");
    }
    return QStringLiteral("ошибка №%1").arg(verdict);
}

QString linkFailedWords(int verdict)
{
    return QStringLiteral("проверка связи не прошла (") + linkVerdictWords(verdict) + QLatin1Char(')');
}

QList<int> everyBlock()
{
    QList<int> blocks(BlockStatistics::kBlocks);
    std::iota(blocks.begin(), blocks.end(), 1);
    return blocks;
}

BlockState BlockStatistics::add(const BlockReading &reading, const QDateTime &at)
{
    if (reading.number < 1 || reading.number > kBlocks)
        return BlockState::NotAsked;
    BlockTally &block = m_blocks[size_t(reading.number - 1)];
    ++block.asked;
    if (reading.answered) {
        block.minMs = block.answered == 0 ? reading.ms : std::min(block.minMs, reading.ms);
        block.maxMs = std::max(block.maxMs, reading.ms);
        block.totalMs += reading.ms;
        block.lastMs = reading.ms;
        block.lastReply = at;
        ++block.answered;
    }
    return state(reading.number);
}

void BlockStatistics::addLinkTest(int verdict)
{
    ++m_linkTests;
    m_lastLinkVerdict = verdict;
    if (verdict == LineTests::PortNotOpen || verdict == LineTests::PortLost)
        return;   // nothing was read of the lines
    const bool dsrOff = verdict == 1;
    // With DSR off the test does not read CTS: it is not known to have turned.
    const bool ctsOff = verdict == 2 || (dsrOff && m_ctsOff);
    if (dsrOff && !m_dsrOff)
        ++m_dsrDrops;
    if (ctsOff && !m_ctsOff)
        ++m_ctsDrops;
    m_dsrOff = dsrOff;
    m_ctsOff = ctsOff;
}

void BlockStatistics::clear()
{
    // Everything but the installation starts afresh.
    BlockStatistics cleared;
    cleared.m_installed = m_installed;
    *this = cleared;
}

BlockState BlockStatistics::state(int n) const
{
    const BlockTally &block = tally(n);
    // A block left out of the installation still shows what it answered.
    if (!m_installed.contains(n) && block.asked == 0)
        return BlockState::NotInstalled;
    if (block.asked == 0)
        return BlockState::NotAsked;
    if (block.answered == block.asked)
        return BlockState::Answering;
    return block.answered == 0 ? BlockState::Silent : BlockState::Intermittent;
}

QString BlockStatistics::counts(int n) const
{
    const BlockTally &block = tally(n);
    QString text = QStringLiteral("ответил %1 из %2").arg(block.answered).arg(block.asked);
    if (block.answered > 0)
        text += QStringLiteral(", %1 мс").arg(block.lastMs);
    return text;
}

QString BlockStatistics::description(int n) const
{
    const BlockState s = state(n);
    QString text = QStringLiteral("Блок %1: %2").arg(n).arg(blockStateWord(s));
    if (s != BlockState::NotInstalled && s != BlockState::NotAsked)
        text += QStringLiteral(", ") + counts(n);
    return text;
}

QString BlockStatistics::replyTimes(int n) const
{
    const BlockTally &block = tally(n);
    if (block.answered == 0)
        return QString();
    return QStringLiteral("мин. %1, сред. %2, макс. %3 мс").arg(block.minMs).arg(block.avgMs()).arg(block.maxMs);
}

QList<int> installedBlocks(const QString &saved, QString *problem)
{
    const QList<int> all = everyBlock();
    const QString text = saved.trimmed();
    if (text.isEmpty())
        return all;
    QString why;
    const std::optional<QList<int>> blocks = parseBlockRanges(text, &why);
    if (!blocks || blocks->isEmpty()) {
        if (problem)
            *problem = QStringLiteral("Блоки установки в настройках (\"%1\") не поняты: %2; опрашиваются блоки 1-32")
                           .arg(text, blocks ? QStringLiteral("ни одного блока") : why);
        return all;
    }
    return *blocks;
}
