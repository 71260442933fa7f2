#include "ui/twips.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>

int Twips::toPxX(int twips)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return qRound(twips * (screen ? screen->logicalDotsPerInchX() : 96.0) / 1440.0);
}

int Twips::toPxY(int twips)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return qRound(twips * (screen ? screen->logicalDotsPerInchY() : 96.0) / 1440.0);
}

QRect Twips::rect(int left, int top, int width, int height)
{
    return QRect(toPxX(left), toPxY(top), toPxX(width), toPxY(height));
}

QSize Twips::toPxSize(int width, int height)
{
    return QSize(toPxX(width), toPxY(height));
}

QFont Twips::formFont()
{
#ifdef Q_OS_WIN
    // The face the forms were drawn in, where Windows still has it; Windows
    // keeps its fonts loaded for every program, so a second face costs nothing.
    QFont font(QFontDatabase::hasFamily(QStringLiteral("MS Sans Serif")) ? QStringLiteral("MS Sans Serif")
                                                                           : QStringLiteral("Arial"));
#else
    QFont font(QStringLiteral("Arial"));
#endif
    font.setPointSizeF(8.25);
    return font;
}
