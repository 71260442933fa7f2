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
QSize size(int width, int height);

// The forms were drawn for an 8.25 point face: MS Sans Serif on Windows where
// it is installed, elsewhere the platform's own face at that size, which keeps
// the captions within their controls.
QFont formFont();
}
