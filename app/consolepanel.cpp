#include "app/consolepanel.h"

#include "app/cli.h"

#include <cstdio>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#endif

ConsolePanel::ConsolePanel(int blockListIndex)
    : m_blockListIndex(blockListIndex)
{
#ifdef Q_OS_WIN
    // Lines end in LF on every system, so scripts read the same bytes everywhere.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
}

void ConsolePanel::addMessage(const QString &text)
{
    // Each line at once: whoever watches (or pipes) the output sees each step as it happens.
    if (!m_silent)
        Cli::printLine(text);
}

void ConsolePanel::setButtonEnabled(Button, bool)
{
}
