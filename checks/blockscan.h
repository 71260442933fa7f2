#pragma once

#include "checks/linetests.h"

#include <QMap>
#include <functional>

// One pass over the installation: the link test and, when it finds the БСУ, every block in turn.
struct ScanRound
{
    LinkResult link;
    QList<BlockReading> blocks;   // in the order queried, each with its result
    bool stopped = false;         // stopped on request before the last block
    bool portLost = false;        // the port closed under it (an adapter pulled): no verdict

    QList<int> answered() const;
};

// The scan of all blocks: the link test's lines, each block's three lines and a summary line. A port
// lost mid-scan ends it with the summary of the blocks queried so far and the line that it has no
// verdict. A block that does not answer gets its full wait whatever the reply end.
class BlockScan
{
public:
    BlockScan(LineTests &tests, SerialPort &port, OperatorPanel &panel);

    // One round; the summary line starts with summaryPrefix ("Круг 2: " in a repeated scan).
    ScanRound run(ReplyEnd end, const QString &summaryPrefix = QString());
    // Stops after the block being queried: "Проверка остановлена" and the summary of the blocks
    // queried so far. Asked before run(), the round stops before its first block.
    void requestStop() { m_stopRequested = true; }
    // The blocks a round queries, ascending: the installation's (1 to 32 unless set).
    void setBlocks(const QList<int> &blocks) { m_blocks = blocks; }

    // Told as each result comes, before the next query: the block map sees the answers as they arrive.
    std::function<void(const LinkResult &)> onLinkTest = [](const LinkResult &) {};
    std::function<void(const BlockReading &)> onBlock = [](const BlockReading &) {};

    // "Отвечают блоки: 1-5, 9 (6 из 32)", or that none does.
    static QString summary(const QList<int> &answered, int queried);

private:
    LineTests &m_tests;
    SerialPort &m_port;
    OperatorPanel &m_panel;
    bool m_stopRequested = false;
    QList<int> m_blocks;
};

// What several rounds found, block by block.
class ScanTally
{
public:
    void add(const ScanRound &round);
    int rounds() const { return m_rounds; }
    // True when every block queried answered every time.
    bool allAnswered() const;
    // "Блок 5: ответил 97 из 100 (97 %)" for each block that missed at least once, or the one line
    // that every block answered every round.
    QStringList lines() const;

    struct Count
    {
        int queried = 0;
        int answered = 0;
    };
    const QMap<int, Count> &counts() const { return m_counts; }

private:
    int m_rounds = 0;
    QMap<int, Count> m_counts;
};
