#include "app/cli.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "link/systemerror.h"

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <qt_windows.h>
#include <fcntl.h>
#include <io.h>
#endif

namespace Cli {

namespace {

bool g_stdoutClosed = false;
QString g_outputFailure;

// A Windows console shows bytes in its own code page (866 on a Russian
// system), never as UTF-8 unless switched to it. Text meant for a console goes
// to it as UTF-16, which every console shows as it is; a file or a pipe gets
// the UTF-8 bytes. True when the stream is a console and took the text.
bool writeToConsole([[maybe_unused]] std::FILE *stream, [[maybe_unused]] const QByteArray &bytes)
{
#ifdef Q_OS_WIN
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return false;
    std::fflush(stream);
    const QString text = QString::fromUtf8(bytes);
    DWORD written = 0;
    return WriteConsoleW(handle, reinterpret_cast<const wchar_t *>(text.utf16()), DWORD(text.size()), &written,
                         nullptr);
#else
    return false;
#endif
}

void writeOut(const QByteArray &bytes)
{
    if (!g_outputFailure.isEmpty())
        return;
    if (g_stdoutClosed) {
        g_outputFailure = QStringLiteral("он был закрыт при запуске");
        return;
    }
    if (writeToConsole(stdout, bytes))
        return;
    errno = 0;
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size())
        || std::fflush(stdout) != 0) {
        g_outputFailure = systemErrorText(errno ? errno : EIO);
        std::clearerr(stdout);
    }
}

} // namespace

void beginProgram()
{
#ifdef Q_OS_WIN
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
#ifdef Q_OS_UNIX
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free descriptor is this one.
        if (::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) == fd && fd == 1)
            g_stdoutClosed = true;
    }
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

void tell(const QString &text)
{
    const QByteArray line = text.toUtf8() + '\n';
    if (writeToConsole(stderr, line))
        return;
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

void printLine(const QString &text)
{
    writeOut(text.toUtf8() + '\n');
}

int printHelp(const QString &program, const char *text)
{
    writeOut(QByteArray(text));
    return exitStatus(program, 0);
}

int exitStatus(const QString &program, int status)
{
    if (g_outputFailure.isEmpty())
        return status;
    tell(QStringLiteral("%1: не удалось записать на стандартный вывод: %2").arg(program, g_outputFailure));
    return kOutputFailed;
}

int badArguments(const QString &program, const QString &why)
{
    tell(program + QStringLiteral(": ") + why);
    tell(QStringLiteral("Справка: ") + program + QStringLiteral(" --help"));
    return kBadArguments;
}

QStringList joinSimulateValue(QStringList args, const QStringList &commandWords)
{
    const QString bare = QStringLiteral("--simulate");
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--"))
            break;
        if (args.at(i) != bare)
            continue;
        const bool scenarioFollows = i + 1 < args.size() && !args.at(i + 1).startsWith(QLatin1Char('-'))
                                     && !commandWords.contains(args.at(i + 1));
        if (scenarioFollows)
            args[i] = bare + QLatin1Char('=') + args.takeAt(i + 1);
        else
            args[i] = bare + QStringLiteral("=ok");
    }
    return args;
}

bool parse(QCommandLineParser &parser, const QStringList &args, QString *error)
{
    if (parser.parse(args))
        return true;
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty()) {
        const QString &name = unknown.first();
        *error = QStringLiteral("неизвестный параметр \"%1%2\"")
                     .arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name);
        return false;
    }
    // The parser's other complaints name the option in quotes.
    static const QRegularExpression missing(QStringLiteral("^Missing value after '(.*)'"));
    static const QRegularExpression unexpected(QStringLiteral("^Unexpected value after '(.*)'"));
    const QString text = parser.errorText();
    if (const QRegularExpressionMatch m = missing.match(text); m.hasMatch())
        *error = QStringLiteral("после %1 нужно значение").arg(m.captured(1));
    else if (const QRegularExpressionMatch m = unexpected.match(text); m.hasMatch())
        *error = QStringLiteral("параметр %1 не принимает значения").arg(m.captured(1));
    else
        *error = text;
    return false;
}

}
