#pragma once

#include <QChar>

// The character a byte stands for in Windows-1251, the code page of the
// Russian texts, whatever the platform's own code page is.
QChar cp1251ToUnicode(unsigned char b);
