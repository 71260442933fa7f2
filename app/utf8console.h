#pragma once

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#include <fcntl.h>
#include <io.h>
#include <cstdio>

// The programs write their Russian text as UTF-8 with LF line ends, the same
// bytes on every system: standard output and error are binary streams here
// (no CR added), and a Windows console, which shows bytes in its own code page
// (866 on a Russian system), takes UTF-8 while the program runs and gets its
// own code page back afterwards.
class Utf8Console
{
public:
    Utf8Console() : m_previous(GetConsoleOutputCP())
    {
        _setmode(_fileno(stdout), _O_BINARY);
        _setmode(_fileno(stderr), _O_BINARY);
        if (m_previous != 0)
            SetConsoleOutputCP(CP_UTF8);
    }
    ~Utf8Console()
    {
        if (m_previous != 0)
            SetConsoleOutputCP(m_previous);
    }
    Utf8Console(const Utf8Console &) = delete;
    Utf8Console &operator=(const Utf8Console &) = delete;

private:
    UINT m_previous;   // 0 without a console
};
#else
// Elsewhere the streams and the terminal are UTF-8 with LF already.
class Utf8Console
{
};
#endif
