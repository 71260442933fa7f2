#include "app/consolepanel.h"

#include <QByteArray>
#include <QString>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#endif

ConsolePanel::ConsolePanel(int blockListIndex, std::FILE *out)
    : m_out(out), m_blockListIndex(blockListIndex)
{
#ifdef Q_OS_WIN
    // Lines end in LF on every system, so scripts read the same bytes everywhere.
    if (m_out)
        _setmode(_fileno(m_out), _O_BINARY);
#endif
}

void ConsolePanel::addMessage(const QString &text)
{
    if (!m_out)
        return;
    const QByteArray line = text.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), m_out);
    // A run lasts seconds: whoever watches (or pipes) the output sees each step as it happens.
    std::fflush(m_out);
}

void ConsolePanel::setButtonEnabled(Button, bool)
{
}
