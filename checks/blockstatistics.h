#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <array>

struct BlockReading;

// What the block map shows of one block since the map was last cleared.
enum class BlockState { NotAsked, Answering, Intermittent, Silent, NotInstalled };

// "не опрошен", "отвечает", "с перебоями", "не отвечает", "не установлен".
QString blockStateWord(BlockState state);

// The numbers 1 to 32: an installation of every block.
QList<int> everyBlock();

// How a date and time are shown: on the map, in the report and in a saved log.
inline const QString kDateTimeFormat = QStringLiteral("dd.MM.yyyy HH:mm:ss");

struct BlockTally
{
    int asked = 0;
    int answered = 0;
    // Reply times of the answers only: a silent block's wait is no reply time.
    qint64 minMs = 0;
    qint64 maxMs = 0;
    qint64 totalMs = 0;
    qint64 lastMs = 0;
    QDateTime lastReply;   // when it last answered; invalid when it never did

    qint64 avgMs() const { return answered > 0 ? totalMs / answered : 0; }
};

// Every block check, scan and watch adds what it found here, reply by reply; the block map, the
// watch's log lines and the report read it. Its size does not grow with the rounds.
class BlockStatistics
{
public:
    static constexpr int kBlocks = 32;

    // The blocks the installation has (1 to 32 unless set); the others read "не установлен".
    void setInstalled(const QList<int> &blocks) { m_installed = blocks; }
    const QList<int> &installed() const { return m_installed; }

    // Adds one query of a block; the state the block is in from now on.
    BlockState add(const BlockReading &reading, const QDateTime &at);
    // Adds one link test's verdict (LineTests' numbering): DSR off is error 1, CTS off error 2; each
    // turn of a line from on (or unknown) to off counts as one drop.
    void addLinkTest(int verdict);
    void addRound() { ++m_rounds; }
    void clear();

    BlockState state(int n) const;
    const BlockTally &tally(int n) const { return m_blocks.at(size_t(n - 1)); }
    int rounds() const { return m_rounds; }
    int dsrDrops() const { return m_dsrDrops; }
    int ctsDrops() const { return m_ctsDrops; }
    // The last link test's verdict; linkTests() 0 when none since the clear.
    int lastLinkVerdict() const { return m_lastLinkVerdict; }
    int linkTests() const { return m_linkTests; }

    // "ответил 3 из 6, 41 мс" (the reply time while it has one).
    QString counts(int n) const;
    // "Блок 5: с перебоями, ответил 3 из 6, 41 мс": what a screen reader says of the block.
    QString description(int n) const;
    // "мин. 38, сред. 40, макс. 44 мс", or "" while the block never answered.
    QString replyTimes(int n) const;

private:
    std::array<BlockTally, kBlocks> m_blocks;
    QList<int> m_installed = everyBlock();
    int m_rounds = 0;
    int m_linkTests = 0;
    int m_lastLinkVerdict = -1;
    int m_dsrDrops = 0;
    int m_ctsDrops = 0;
    bool m_dsrOff = false;
    bool m_ctsOff = false;
};

// The link test's verdict in a few words: "связь в порядке", "ошибка №3", "порт не открыт".
QString linkVerdictWords(int verdict);
// A failed link test among rounds: "проверка связи не прошла (ошибка №3)".
QString linkFailedWords(int verdict);

// The installation's blocks as the settings keep them ("1-24"), 1 to 32 when none are kept; a text
// that names no blocks gives 1 to 32 too, and the reason in *problem.
QList<int> installedBlocks(const QString &saved, QString *problem = nullptr);
