#include "sim/scenario.h"

#include "checks/blockranges.h"

#include <QStringList>

namespace {

const QString kKnownWords = QStringLiteral("ok, no-cable, no-power, line-break, bsu-off, blocks=, flaky=, noise, late");
const QString kUnpluggedRefused =
    QStringLiteral("сценарий unplugged здесь не имитируется: отключите адаптер от компьютера");

std::nullopt_t reject(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return std::nullopt;
}

// A word that names one fault of the installation (or "ok", none); false for any other.
bool takeFault(Scenario &s, const QString &word, bool unpluggedAllowed)
{
    if (word == QLatin1String("no-cable"))
        s.cable = false;
    else if (word == QLatin1String("no-power"))
        s.power = false;
    else if (word == QLatin1String("line-break"))
        s.lineBreak = true;
    else if (word == QLatin1String("bsu-off"))
        s.bsuOff = true;
    else if (word == QLatin1String("noise"))
        s.noise = true;
    else if (word == QLatin1String("late"))
        s.late = true;
    else if (word == QLatin1String("unplugged") && unpluggedAllowed)
        s.unplugged = true;
    else
        return word == QLatin1String("ok");   // nothing wrong; other words may still follow
    return true;
}

} // namespace

std::optional<Scenario> Scenario::parse(const QString &text, QString *error, Unplugged unplugged)
{
    Scenario s;
    enum { NoList, InList, ListClosed } list = NoList;   // where block numbers may go
    std::bitset<33> *listed = &s.blocks;                  // the list they go to
    bool blocksListed = false;

    for (const QString &raw : text.split(QLatin1Char(','))) {
        QString word = raw.trimmed().toLower();
        const bool blocksWord = word.startsWith(QLatin1String("blocks="));
        if (blocksWord || word.startsWith(QLatin1String("flaky="))) {
            // The list's first item follows the word; more may follow as words of their own.
            if (blocksWord && !blocksListed)
                s.blocks.reset();
            blocksListed = blocksListed || blocksWord;
            listed = blocksWord ? &s.blocks : &s.flaky;
            list = InList;
            word = word.section(QLatin1Char('='), 1).trimmed();
            if (blocksWord && word == QLatin1String("none")) {
                list = ListClosed;
                continue;
            }
            if (word.isEmpty())
                return reject(error, blocksWord ? QStringLiteral("После blocks= нужен список блоков или none")
                                                : QStringLiteral("После flaky= нужен список блоков"));
        } else if (word.isEmpty()) {
            continue;
        } else if (!word.at(0).isDigit() && word.at(0) != QLatin1Char('-')) {
            list = NoList;
            const bool allowed = unplugged == Unplugged::Allowed;
            if (takeFault(s, word, allowed))
                continue;
            if (word == QLatin1String("unplugged"))
                return reject(error, kUnpluggedRefused);
            const QString known = kKnownWords + (allowed ? QStringLiteral(", unplugged") : QString());
            return reject(error, QStringLiteral("Неизвестное слово в сценарии: \"%1\" (известны %2)")
                                     .arg(raw.trimmed(), known));
        } else if (list == NoList) {
            return reject(error, QStringLiteral("Номер блока \"%1\" без blocks= перед ним").arg(word));
        } else if (list == ListClosed) {
            return reject(error, QStringLiteral("После blocks=none номера блоков не ставятся: \"%1\"").arg(word));
        }
        const std::optional<QList<int>> named = parseBlockRanges(word, error);
        if (!named)
            return std::nullopt;
        for (const int n : *named)
            listed->set(size_t(n));
    }
    return s;
}

QString Scenario::toString() const
{
    QStringList words;
    if (!cable)
        words << QStringLiteral("no-cable");
    if (!power)
        words << QStringLiteral("no-power");
    if (lineBreak)
        words << QStringLiteral("line-break");
    if (bsuOff)
        words << QStringLiteral("bsu-off");
    const size_t answering = (blocks >> 1).count();   // bit 0 is no block
    if (answering == 0)
        words << QStringLiteral("blocks=none");
    else if (answering < 32)
        words << QStringLiteral("blocks=") + blockRanges(blockNumbers(blocks), QStringLiteral(","));
    if (flaky.any())
        words << QStringLiteral("flaky=") + blockRanges(blockNumbers(flaky), QStringLiteral(","));
    if (noise)
        words << QStringLiteral("noise");
    if (late)
        words << QStringLiteral("late");
    if (unplugged)
        words << QStringLiteral("unplugged");
    return words.isEmpty() ? QStringLiteral("ok") : words.join(QLatin1Char(','));
}
