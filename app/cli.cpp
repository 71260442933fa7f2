#include "app/cli.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "link/systemerror.h"
#include "link/systemports.h"

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
bool writeToConsole(std::FILE *stream, const QByteArray &bytes)
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
    Q_UNUSED(stream);
    Q_UNUSED(bytes);
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

void reserveStandardDescriptors()
{
#ifdef Q_OS_WIN
    // Lines end in LF on every system, so scripts read the same bytes everywhere.
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
#endif
}

void ignoreFileSizeLimitSignal()
{
#ifdef Q_OS_UNIX
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

QString outputFailure()
{
    return g_outputFailure;
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

namespace {

QFileInfo deviceFile(const QString &device)
{
    return QFileInfo(device.startsWith(QLatin1Char('/')) ? device : QStringLiteral("/dev/") + device);
}

} // namespace

QString unopenedPortReason(const QString &device, const QString &systemWords, bool accessDenied)
{
#ifdef Q_OS_WIN
    // Windows denies access to a port another program has open.
    const bool busy = accessDenied;
    const QString path = device;
#else
    // Qt reports a lock held by another program as a permission error, like
    // a lack of rights: with the rights in hand, it is the lock.
    const QFileInfo file = deviceFile(device);
    const bool busy = accessDenied && file.exists() && file.isReadable() && file.isWritable();
    const QString path = file.filePath();
#endif
    if (!busy)
        return systemWords;
    const QString holder = portHolder(path);
    return QStringLiteral("порт занят другой программой") + (holder.isEmpty() ? QString() : QStringLiteral(": ") + holder);
}

QStringList unopenedPortHints(const QString &device, bool accessDenied)
{
    Q_UNUSED(accessDenied);
    QStringList hints;
#ifdef Q_OS_WIN
    Q_UNUSED(device);
#else
    const QFileInfo file = deviceFile(device);
    if (!file.exists()) {
        hints << QStringLiteral("Устройства %1 нет: проверьте, подключён ли адаптер, или укажите порт через --port "
                                "(например --port /dev/ttyUSB0)").arg(file.filePath());
    } else if (!file.isReadable() || !file.isWritable()) {
        // Serial ports are usually open to a group (dialout on Debian); never suggest joining root.
        const QString group = file.group();
        const bool groupMayUse = file.permission(QFile::ReadGroup | QFile::WriteGroup);
        if (groupMayUse && !group.isEmpty() && group != QLatin1String("root")) {
            hints << QStringLiteral("Нет прав на %1: добавьте пользователя в группу %2 (sudo usermod -aG %2 $USER) "
                                    "и войдите в систему заново").arg(file.filePath(), group);
        } else {
            hints << QStringLiteral("Нет прав на %1 (владелец %2, группа %3): права на устройство даёт администратор; "
                                    "обычно последовательные порты открыты группе dialout")
                         .arg(file.filePath(), file.owner(), group);
        }
    }
#endif
    return hints;
}

}
