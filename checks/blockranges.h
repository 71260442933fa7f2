#pragma once

#include <QList>
#include <QString>

// Block numbers in ascending order as text, runs of consecutive numbers as
// ranges: {1, 2, 3, 4, 5, 9} is "1-5" + separator + "9". The simulator's
// scenarios and the scan's summary both write block lists this way.
QString blockRanges(const QList<int> &ascending, const QString &separator);
