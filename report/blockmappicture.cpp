#include "report/blockmappicture.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPalette>

namespace BlockMapPicture {

QColor fill(BlockState state)
{
    // Light fills under dark text: the same contrast in a light or a dark theme.
    switch (state) {
    case BlockState::NotAsked: return QColor(0xdd, 0xdd, 0xdd);
    case BlockState::Answering: return QColor(0xa8, 0xdf, 0xa0);
    case BlockState::Intermittent: return QColor(0xff, 0xd4, 0x80);
    case BlockState::Silent: return QColor(0xf2, 0x9c, 0x9c);
    case BlockState::NotInstalled: return QColor();
    }
    return QColor();
}

QString symbol(BlockState state)
{
    switch (state) {
    case BlockState::NotAsked: return QStringLiteral("·");
    case BlockState::Answering: return QStringLiteral("✓");
    case BlockState::Intermittent: return QStringLiteral("≈");
    case BlockState::Silent: return QStringLiteral("✗");
    case BlockState::NotInstalled: return QStringLiteral("–");
    }
    return QString();
}

void paintCell(QPainter &painter, const QRectF &cell, int block, const BlockStatistics &statistics,
               const QPalette &palette)
{
    const BlockState state = statistics.state(block);
    const QColor background = fill(state);
    const QColor text = background.isValid() ? QColor(0x1a, 0x1a, 0x1a) : palette.color(QPalette::WindowText);
    const QRectF box = cell.adjusted(1, 1, -1, -1);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPen border(text, 1, background.isValid() ? Qt::SolidLine : Qt::DashLine);
    painter.setPen(border);
    painter.setBrush(background.isValid() ? QBrush(background) : QBrush(Qt::NoBrush));
    painter.drawRoundedRect(box, 4, 4);

    const qreal line = box.height() / 4;
    const QRectF inner = box.adjusted(4, 2, -4, -2);
    // As large as the cell's height allows, and small enough for the longest word.
    QFont font = painter.font();
    int pixels = qMax(6, int(line * 0.75));
    font.setPixelSize(pixels);
    while (pixels > 6 && QFontMetricsF(font, painter.device()).horizontalAdvance(blockStateWord(BlockState::NotInstalled)) > inner.width()) {
        font.setPixelSize(--pixels);
    }
    QFont bold = font;
    bold.setBold(true);
    const auto row = [&](int index) { return QRectF(inner.left(), inner.top() + index * line, inner.width(), line); };

    painter.setFont(bold);
    painter.drawText(row(0), Qt::AlignLeft | Qt::AlignVCenter, QString::number(block));
    painter.drawText(row(0), Qt::AlignRight | Qt::AlignVCenter, symbol(state));
    painter.setFont(font);
    painter.drawText(row(1), Qt::AlignLeft | Qt::AlignVCenter, blockStateWord(state));
    const BlockTally &tally = statistics.tally(block);
    if (tally.asked > 0) {
        painter.drawText(row(2), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("%1 из %2").arg(tally.answered).arg(tally.asked));
        if (tally.answered > 0)
            painter.drawText(row(3), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("%1 мс").arg(tally.lastMs));
    }
    painter.restore();
}

void paintMap(QPainter &painter, const QRectF &area, const BlockStatistics &statistics, const QPalette &palette)
{
    const int rows = (BlockStatistics::kBlocks + kColumns - 1) / kColumns;
    const qreal width = area.width() / kColumns;
    const qreal height = area.height() / rows;
    for (int n = 1; n <= BlockStatistics::kBlocks; ++n) {
        const int index = n - 1;
        paintCell(painter, QRectF(area.left() + (index % kColumns) * width, area.top() + (index / kColumns) * height,
                                  width, height),
                  n, statistics, palette);
    }
}

} // namespace BlockMapPicture
