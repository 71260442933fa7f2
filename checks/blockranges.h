#pragma once

#include <QList>
#include <QString>
#include <bitset>
#include <optional>

// Ascending block numbers as text, runs as ranges: {1, 2, 3, 4, 5, 9} is "1-5" + separator + "9".
// The simulator's scenarios and the scan's summary both write block lists this way.
QString blockRanges(const QList<int> &ascending, const QString &separator);

// The block numbers 1 to 32 that text in that form names ("1-24", "1-5, 9", blanks or commas between
// the items), ascending and each once; nothing, and the reason in Russian in *error, when an item is
// not a number or range of blocks.
std::optional<QList<int>> parseBlockRanges(const QString &text, QString *error = nullptr);

// The block numbers 1 to 32 whose bits are set, ascending; bit 0 is no block.
QList<int> blockNumbers(const std::bitset<33> &bits);
