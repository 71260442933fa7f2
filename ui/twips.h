#pragma once

#include <QFont>
#include <QRect>

// Window and control geometry is kept in twips (1/1440 inch), as the forms
// were drawn; these give device-independent pixels at the screen's logical DPI,
// so the layout scales with the fonts.
namespace Twips {
int toPxX(int twips);
int toPxY(int twips);
QRect rect(int left, int top, int width, int height);
QSize toPxSize(int width, int height);

// The forms' fixed border: a title bar with its system menu and close box, no sizing, no maximise box.
constexpr Qt::WindowFlags kFixedBorder =
    Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

// The forms were drawn for an 8.25 point sans face. Arial at that size (on Linux its metric twin
// Liberation Sans, or the system's sans face) keeps the captions within their controls; the message
// log uses it too, as a second face costs its own lookup and glyph cache at every start.
QFont formFont();
}
