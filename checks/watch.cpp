#include "checks/watch.h"

#include "checks/blockscan.h"
#include "checks/blockstatistics.h"
#include "checks/checksession.h"
#include "checks/blockranges.h"


namespace {
// Before the first link test; no verdict, not even a lost port (-2), has this number.
constexpr int kNoVerdictYet = -3;
}

InstallationWatch::InstallationWatch(CheckSession &session, OperatorPanel &panel, BlockStatistics &statistics)
    : m_session(session), m_panel(panel), m_statistics(statistics), m_held(panel)
{
}

void InstallationWatch::requestStop()
{
    m_stopRequested = true;
    if (m_scan)
        m_scan->requestStop();
}

void InstallationWatch::tellLinkVerdict(const LinkResult &link, int &lastVerdict, const QString &prefix)
{
    const int verdict = link.verdict;
    if (verdict == lastVerdict)
        return;
    if (verdict == LineTests::LinkGood) {
        m_panel.addMessage(prefix + (lastVerdict == kNoVerdictYet ? linkVerdictWords(verdict)
                                                                  : QStringLiteral("связь восстановлена")));
    } else {
        if (verdict != LineTests::PortNotOpen && verdict != LineTests::PortLost)
            m_panel.addMessage(prefix + linkFailedWords(verdict));
        for (const QString &line : link.lines)
            m_panel.addMessage(line);
    }
    lastVerdict = verdict;
}

InstallationWatch::Result InstallationWatch::run(int rounds)
{
    Result result;
    // Its own checks, writing to the held panel; state, port and waits are the session's.
    LineTests tests(m_session.state(), m_session.port(), m_session.stopwatch(), m_session.store(), m_held);
    BlockScan scan(tests, m_session.port(), m_held);
    scan.setBlocks(m_statistics.installed());
    m_scan = &scan;

    int lastVerdict = kNoVerdictYet;
    bool freshBlocks = false;   // in this round
    const auto prefix = [&result] { return QStringLiteral("Круг %1: ").arg(result.rounds); };
    scan.onLinkTest = [&](const LinkResult &link) {
        m_statistics.addLinkTest(link.verdict);
        tellLinkVerdict(link, lastVerdict, prefix());
        onChange(0);
    };
    scan.onBlock = [&](const BlockReading &reading) {
        const BlockState before = m_statistics.state(reading.number);
        const BlockState after = m_statistics.add(reading, QDateTime::currentDateTime());
        // Blocks asked for the first time (at the start, after a clear) are told in the round's summary line.
        if (before == BlockState::NotAsked || before == BlockState::NotInstalled)
            freshBlocks = true;
        else if (after != before)
            m_panel.addMessage(prefix() + m_statistics.description(reading.number));
        onChange(reading.number);
    };

    m_panel.addMessage(QStringLiteral("Наблюдение за установкой: блоки %1")
                           .arg(blockRanges(m_statistics.installed(), QStringLiteral(", "))));
    while (!m_stopRequested && (rounds == 0 || result.rounds < rounds)) {
        ++result.rounds;
        freshBlocks = false;
        m_statistics.addRound();
        const ScanRound scanned = scan.run(ReplyEnd::AtFirstCr);
        if (freshBlocks && !scanned.portLost)
            m_panel.addMessage(prefix() + BlockScan::summary(scanned.answered(), int(scanned.blocks.size())));
        if (scanned.link.verdict == LineTests::PortNotOpen) {
            result.portNotOpen = true;
            break;
        }
        if (scanned.portLost || !m_session.port().isOpen()) {
            // Lost among the blocks: the scan's last line says so (a link test's loss was told with its lines).
            if (scanned.portLost && scanned.link.verdict == LineTests::LinkGood)
                m_panel.addMessage(LineTests::kPortLost);
            result.portLost = true;
            break;
        }
    }
    m_scan = nullptr;
    result.stopped = m_stopRequested && !result.portLost && !result.portNotOpen;
    if (result.stopped)
        m_panel.addMessage(QStringLiteral("Наблюдение остановлено, кругов: %1").arg(result.rounds));
    // A stop asked before the run began holds; the next run is a whole one again.
    m_stopRequested = false;
    return result;
}
