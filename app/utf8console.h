#pragma once

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <qt_windows.h>

// The headless tools write their Russian text as UTF-8. A Windows console
// shows bytes in its own code page (866 on a Russian system), so while a tool
// runs its console takes UTF-8, and gets its own code page back afterwards.
// Output into a file or a pipe is the same UTF-8 either way.
class Utf8Console
{
public:
    Utf8Console() : m_previous(GetConsoleOutputCP())
    {
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
// Elsewhere the terminal's own encoding is UTF-8 already.
class Utf8Console
{
};
#endif
