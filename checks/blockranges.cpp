#include "checks/blockranges.h"

#include <QRegularExpression>
#include <QStringList>

QString blockRanges(const QList<int> &ascending, const QString &separator)
{
    QStringList ranges;
    for (qsizetype i = 0; i < ascending.size();) {
        qsizetype last = i;
        while (last + 1 < ascending.size() && ascending.at(last + 1) == ascending.at(last) + 1)
            ++last;
        ranges << (last == i ? QString::number(ascending.at(i))
                             : QStringLiteral("%1-%2").arg(ascending.at(i)).arg(ascending.at(last)));
        i = last + 1;
    }
    return ranges.join(separator);
}

std::optional<QList<int>> parseBlockRanges(const QString &text, QString *error)
{
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,3})(?:-([0-9]{1,3}))?$"));
    const auto refuse = [error](const QString &why) -> std::optional<QList<int>> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    std::bitset<33> named;
    for (const QString &item : text.split(separators, Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = form.match(item);
        if (!m.hasMatch())
            return refuse(QStringLiteral("Неверный номер блока \"%1\": нужно число от 1 до 32 или диапазон вида 1-5").arg(item));
        const int first = m.captured(1).toInt();
        const int last = m.capturedLength(2) ? m.captured(2).toInt() : first;
        if (first < 1 || first > 32 || last < 1 || last > 32)
            return refuse(QStringLiteral("Номер блока вне 1..32: \"%1\"").arg(item));
        if (first > last)
            return refuse(QStringLiteral("Диапазон блоков задан наоборот: \"%1\"").arg(item));
        for (int n = first; n <= last; ++n)
            named.set(size_t(n));
    }
    return blockNumbers(named);
}

QList<int> blockNumbers(const std::bitset<33> &bits)
{
    QList<int> numbers;
    for (int n = 1; n <= 32; ++n) {
        if (bits.test(size_t(n)))
            numbers << n;
    }
    return numbers;
}
