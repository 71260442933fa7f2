#include "sim/scenario.h"

#include "checks/blockranges.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

std::nullopt_t reject(QString *error, const QString &message)
{
    fail(error, message);
    return std::nullopt;
}

// One number or range of a block list: "7" or "1-5".
bool addBlocks(const QString &item, std::bitset<33> &blocks, QString *error)
{
    const std::optional<QList<int>> named = parseBlockRanges(item, error);
    if (!named)
        return false;
    for (const int n : *named)
        blocks.set(size_t(n));
    return true;
}

bool isBlockItem(const QString &word)
{
    return !word.isEmpty() && (word.at(0).isDigit() || word.at(0) == QLatin1Char('-'));
}

// A word that names one fault of the installation (or "ok", none); false for any other.
bool takeFault(Scenario &s, const QString &word)
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
        const QString word = raw.trimmed().toLower();
        if (word.isEmpty())
            continue;
        if (isBlockItem(word)) {
            if (list == NoList)
                return reject(error, QStringLiteral("Номер блока \"%1\" без blocks= перед ним").arg(word));
            if (list == ListClosed)
                return reject(error, QStringLiteral("После blocks=none номера блоков не ставятся: \"%1\"").arg(word));
            if (!addBlocks(word, *listed, error))
                return std::nullopt;
            continue;
        }
        list = NoList;
        if (word.startsWith(QLatin1String("blocks="))) {
            const QString first = word.mid(7).trimmed();
            if (!blocksListed)
                s.blocks.reset();
            blocksListed = true;
            listed = &s.blocks;
            if (first == QLatin1String("none")) {
                list = ListClosed;
            } else if (first.isEmpty()) {
                return reject(error, QStringLiteral("После blocks= нужен список блоков или none"));
            } else {
                if (!addBlocks(first, s.blocks, error))
                    return std::nullopt;
                list = InList;
            }
        } else if (word.startsWith(QLatin1String("flaky="))) {
            const QString first = word.mid(6).trimmed();
            if (first.isEmpty())
                return reject(error, QStringLiteral("После flaky= нужен список блоков"));
            if (!addBlocks(first, s.flaky, error))
                return std::nullopt;
            listed = &s.flaky;
            list = InList;
        } else if (takeFault(s, word)) {
        } else if (word == QLatin1String("unplugged") && unplugged == Unplugged::Allowed) {
            s.unplugged = true;
        } else if (word == QLatin1String("unplugged")) {
            return reject(error, QStringLiteral("сценарий unplugged здесь не имитируется: отключите адаптер от компьютера"));
        } else {
            const QString known = QStringLiteral("ok, no-cable, no-power, line-break, bsu-off, blocks=, flaky=, noise, late")
                                  + (unplugged == Unplugged::Allowed ? QStringLiteral(", unplugged") : QString());
            return reject(error, QStringLiteral("Неизвестное слово в сценарии: \"%1\" (известны %2)")
                                     .arg(raw.trimmed(), known));
        }
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
    if (answering == 0) {
        words << QStringLiteral("blocks=none");
    } else if (answering < 32) {
        QList<int> answeringBlocks;
        for (int n = 1; n <= 32; ++n) {
            if (blocks.test(size_t(n)))
                answeringBlocks << n;
        }
        words << QStringLiteral("blocks=") + blockRanges(answeringBlocks, QStringLiteral(","));
    }
    if (flaky.any()) {
        QList<int> flakyBlocks;
        for (int n = 1; n <= 32; ++n) {
            if (flaky.test(size_t(n)))
                flakyBlocks << n;
        }
        words << QStringLiteral("flaky=") + blockRanges(flakyBlocks, QStringLiteral(","));
    }
    if (noise)
        words << QStringLiteral("noise");
    if (late)
        words << QStringLiteral("late");
    if (unplugged)
        words << QStringLiteral("unplugged");
    return words.isEmpty() ? QStringLiteral("ok") : words.join(QLatin1Char(','));
}
