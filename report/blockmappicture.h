#pragma once

#include "checks/blockstatistics.h"

#include <QColor>
#include <QRectF>

class QPainter;
class QPalette;

// How the block map draws a block, in the window and in the report alike:
// a cell with the block's number, a symbol and the state's word (readable
// without colour), its counts and the last reply time, on the state's colour.
namespace BlockMapPicture {

// The fill of a state; invalid for a block the installation does not have,
// which is drawn on the palette's own background.
QColor fill(BlockState state);
// "✓", "≈", "✗", "·", "–": the state at a glance, without colour.
QString symbol(BlockState state);

void paintCell(QPainter &painter, const QRectF &cell, int block, const BlockStatistics &statistics,
               const QPalette &palette);
// All 32 cells, eight to a row.
void paintMap(QPainter &painter, const QRectF &area, const BlockStatistics &statistics, const QPalette &palette);

constexpr int kColumns = 8;

} // namespace BlockMapPicture
