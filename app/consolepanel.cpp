#include "app/consolepanel.h"

#include "app/cli.h"

#include <cstdio>

void ConsolePanel::addMessage(const QString &text)
{
    // Each line at once: whoever watches (or pipes) the output sees each step as it happens.
    if (!m_silent)
        Cli::printLine(text);
}

void ConsolePanel::setButtonEnabled(Button, bool)
{
}
