#include "ui/twips.h"

#include <QGuiApplication>
#include <QScreen>

namespace {

qreal dpiX()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInchX() : 96.0;
}

qreal dpiY()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInchY() : 96.0;
}

}

int Twips::toPxX(int twips)
{
    return qRound(twips * dpiX() / 1440.0);
}

int Twips::toPxY(int twips)
{
    return qRound(twips * dpiY() / 1440.0);
}

QRect Twips::rect(int left, int top, int width, int height)
{
    return QRect(toPxX(left), toPxY(top), toPxX(width), toPxY(height));
}

QSize Twips::size(int width, int height)
{
    return QSize(toPxX(width), toPxY(height));
}

QFont Twips::formFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(8.25);
    return font;
}
