#include "checks/blockranges.h"

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
