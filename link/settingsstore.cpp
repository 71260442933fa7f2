#include "link/settingsstore.h"

#include "link/systemerror.h"
#include "link/wholefile.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QThread>

#include <cctype>
#include <cerrno>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr qint64 kMaxBytes = 1024 * 1024;   // a settings file is a few hundred bytes
constexpr int kLockWaitMs = 3000;

using Values = QMap<QString, QString>;   // "SECTION/key" → text

QString keyPath(const QString &section, const QString &key)
{
    return section + QLatin1Char('/') + key;
}

// Where QSettings keeps the user's INI file.
QString userFolder()
{
#ifdef Q_OS_WIN
    if (const QString appData = qEnvironmentVariable("APPDATA"); !appData.isEmpty())
        return QDir::fromNativeSeparators(appData);
#endif
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

// Why what stands at the file's path, or at its lock's, is not to be opened;
// "" for a regular file (of at most 1 MiB) or nothing. A FIFO or a device would
// block or answer anything, a link to nowhere would make a file wherever it
// points, and QLockFile opens whatever is at its lock, so a lock is never a link.
QString inTheWay(const QString &path, bool isLock)
{
    const QFileInfo info(path);
    const QString at = isLock ? QStringLiteral("на месте файла блокировки %1 ").arg(path)
                              : QStringLiteral("на месте файла ");
    if (info.isSymLink() && (isLock || !info.exists()))
        return at + (isLock ? QStringLiteral("ссылка на ") : QStringLiteral("ссылка на несуществующий "))
               + info.symLinkTarget();
    if (info.isFile() && !isLock && info.size() > kMaxBytes)
        return QStringLiteral("файл занимает %1 байт, больше 1 МиБ: это не файл настроек").arg(info.size());
    if (!info.exists() || info.isFile())
        return QString();
    QString kind = info.isDir() ? QStringLiteral("папка") : QStringLiteral("не обычный файл");
#ifdef Q_OS_UNIX
    static const QMap<mode_t, QString> kKinds{{S_IFIFO, QStringLiteral("канал (FIFO)")},
                                              {S_IFCHR, QStringLiteral("устройство")},
                                              {S_IFBLK, QStringLiteral("устройство")},
                                              {S_IFSOCK, QStringLiteral("сокет")}};
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0)
        kind = kKinds.value(st.st_mode & S_IFMT, kind);
#endif
    return info.isSymLink() ? at + QStringLiteral("ссылка на %1 (%2)").arg(info.symLinkTarget(), kind) : at + kind;
}

// Many saving at once wait in turn while the saves go on: the file changes,
// another process takes the lock, or one writes its new file beside the old one
// (seconds on a busy disk; one left by a save that died counts for half a
// minute). A holder that does none of that for 3 s is named and given up on.
QString takeLock(QLockFile &lock, const QString &file)
{
    const QString lockName = file + QStringLiteral(".lock");
    for (const QString &path : {lockName, lockName + QStringLiteral(".rmlock")})
        if (const QString problem = inTheWay(path, true); !problem.isEmpty())
            return problem;
    QDeadlineTimer deadline(kLockWaitMs);
    QList<qint64> seen;
    // Takes over a lock whose holder is gone, as QSettings would.
    while (!lock.tryLock(0)) {
        if (lock.error() != QLockFile::LockFailedError)
            return errno != 0 ? systemErrorText(errno)
                              : QStringLiteral("не удалось создать файл блокировки %1").arg(lockName);
        qint64 pid = 0;
        QString app;
        lock.getLockInfo(&pid, nullptr, &app);
        const QFileInfo now(file);
        const QList<qint64> stamp{now.lastModified().toMSecsSinceEpoch(), now.size(), pid};
        const QFileInfoList written = now.dir().entryInfoList({now.fileName() + QStringLiteral(".??????")},
                                                              QDir::Files | QDir::Hidden, QDir::Time);
        const QDateTime recent = QDateTime::currentDateTime().addSecs(-30);
        const bool writing = !written.isEmpty() && written.first().lastModified() > recent;
        if (stamp != seen || writing) {
            seen = stamp;
            deadline.setRemainingTime(kLockWaitMs);
        } else if (deadline.hasExpired()) {
            if (pid <= 0)
                return QStringLiteral("файл блокировки %1 занят дольше %2 с").arg(lockName).arg(kLockWaitMs / 1000);
            return QStringLiteral("файл занят другой программой: %1 (процесс %2), файл блокировки %3")
                .arg(app.isEmpty() ? QStringLiteral("?") : app, QString::number(pid), lockName);
        }
        // Looked at every 2 ms, 63 waiters listing the folder left the holder so little
        // of the processor that on a loaded machine saves gave up as if it were stuck.
        QThread::msleep(20);
    }
    return QString();
}

// Makes path with make(). Run by root (sudo) on a user's settings, what it
// makes or replaces goes to the owner of what was there, or of the folder above.
QString keepingOwner(const QString &path, const std::function<QString()> &make)
{
#ifdef Q_OS_UNIX
    struct stat owner;
    const bool root = ::geteuid() == 0
                      && (::stat(QFile::encodeName(path).constData(), &owner) == 0
                          || ::stat(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), &owner) == 0);
    const QString problem = make();
    if (problem.isEmpty() && root)
        (void)::chown(QFile::encodeName(path).constData(), owner.st_uid, owner.st_gid);
    return problem;
#else
    return make();
#endif
}

// Makes the folder and any missing above it.
QString makeFolder(const QString &folder)
{
    const QFileInfo info(folder);
    if (info.isDir())
        return QString();
    if (info.exists() || info.absolutePath() == folder)
        return QStringLiteral("%1 не папка").arg(folder);
    if (const QString problem = makeFolder(info.absolutePath()); !problem.isEmpty())
        return problem;
    return keepingOwner(folder, [&folder] {
        if (QDir().mkdir(folder))
            return QString();
        return QStringLiteral("не удалось создать папку %1: %2").arg(folder, systemErrorText(errno));
    });
}

// An escaped value, or the rest of a line after its '=', as QSettings has
// them: parts in quotes are kept as they are, the rest loses its blanks
// around and ends at a ';'; a backslash escapes one character, \xHHHH a code.
QString unescaped(const QString &text)
{
    QString value;
    bool quoted = false;
    qsizetype kept = 0;   // what a closing quote keeps from trimming
    for (qsizetype i = 0; i < text.size(); ++i) {
        QChar c = text.at(i);
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
            kept = value.size();
            continue;
        }
        if (!quoted && c == QLatin1Char(';'))
            break;
        if (c == QLatin1Char('\\') && i + 1 < text.size()) {
            c = text.at(++i);
            if (c == QLatin1Char('x')) {
                uint code = 0;
                while (i + 1 < text.size() && isxdigit(text.at(i + 1).toLatin1()))
                    code = code * 16 + QString(text.at(++i)).toUInt(nullptr, 16);
                c = QChar(char16_t(code));
            } else {
                const qsizetype named = QStringLiteral("nrtab").indexOf(c);
                c = named >= 0 ? QLatin1Char("\n\r\t\a\b"[named]) : c;
            }
        } else if (!quoted && c.isSpace() && value.size() == kept) {
            continue;
        }
        value += c;
    }
    while (value.size() > kept && value.back().isSpace())
        value.chop(1);
    return value;
}

// The value written so that QSettings and unescaped() read it back whole.
QString escaped(const QString &text)
{
    QString out;
    bool quote = !text.isEmpty() && (text.front().isSpace() || text.back().isSpace());
    bool afterCode = false;   // a hex digit right after \xHH would join the code
    for (const QChar c : text) {
        if (c.unicode() < 32 || c.unicode() == 0x7f || (afterCode && isxdigit(c.toLatin1()))) {
            out += QStringLiteral("\\x") + QString::number(c.unicode(), 16);
            afterCode = true;
            continue;
        }
        afterCode = false;
        quote = quote || QStringLiteral(",;=\"\\#").contains(c);
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        out += c;
    }
    return quote ? QLatin1Char('"') + out + QLatin1Char('"') : out;
}

// The file's values; *notUtf8 names the first key whose line is not UTF-8:
// written back, such text would turn into replacement characters.
Values parse(QByteArray bytes, QString *notUtf8)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    const auto decoded = [](const QString &name) {
        return QString::fromUtf8(QByteArray::fromPercentEncoding(name.trimmed().toUtf8()));
    };
    Values values;
    QString section;
    for (const QByteArray &raw : bytes.split('\n')) {
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString line = QString(utf8(raw)).trimmed();
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (line.startsWith(QLatin1Char('[')) && line.contains(QLatin1Char(']'))) {
            section = decoded(line.mid(1, line.indexOf(QLatin1Char(']')) - 1));
        } else if (equals > 0 && !line.startsWith(QLatin1Char(';')) && !line.startsWith(QLatin1Char('#'))) {
            const QString path = keyPath(section, decoded(line.left(equals)));
            values[path] = unescaped(line.mid(equals + 1));
            if (utf8.hasError() && notUtf8->isEmpty())
                *notUtf8 = path;
        }
    }
    return values;
}

QByteArray serialized(const Values &values)
{
    const auto encoded = [](const QString &name) { return QString::fromLatin1(name.toUtf8().toPercentEncoding()); };
    QString text;
    QString section;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const qsizetype slash = it.key().indexOf(QLatin1Char('/'));
        if (it == values.cbegin() || it.key().left(slash) != section) {
            section = it.key().left(slash);
            text += (text.isEmpty() ? QString() : QStringLiteral("\n")) + QLatin1Char('[') + encoded(section)
                    + QStringLiteral("]\n");
        }
        text += encoded(it.key().mid(slash + 1)) + QLatin1Char('=') + escaped(it.value()) + QLatin1Char('\n');
    }
    return text.toUtf8();
}

// Reads the file's values; why they may not be read ("" when they may, or
// when there is no file).
QString readValues(const QString &file, Values *values, bool toRewrite)
{
    if (!QFileInfo::exists(file))
        return QString();
    if (const QString problem = inTheWay(file, false); !problem.isEmpty())
        return problem;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return QStringLiteral("нет прав на чтение файла");
    QString notUtf8;
    *values = parse(in.read(kMaxBytes), &notUtf8);
    if (toRewrite && !notUtf8.isEmpty())
        return QStringLiteral("в нём есть текст не в кодировке UTF-8 (ключ %1), запись испортила бы его").arg(notUtf8);
    return QString();
}

} // namespace

SettingsStore::SettingsStore()
    : m_file(fileIn(userFolder()))
{
}

QMap<QString, QString> SettingsStore::values() const
{
    Values values;
    const QString problem = readValues(m_file, &values, false);
    if (problem != m_readProblem && !problem.isEmpty() && m_tellProblem)
        m_tellProblem(QStringLiteral("Не удалось прочитать настройки из %1: %2; действуют значения по умолчанию")
                          .arg(QDir::toNativeSeparators(m_file), problem));
    m_readProblem = problem;
    values.insert(m_held);
    return values;
}

QString SettingsStore::saveToFile(const Chooser &choose, QList<Change> *changes)
{
    const QString folder = QFileInfo(m_file).absolutePath();
    if (const QString problem = inTheWay(m_file, false); !problem.isEmpty())
        return problem;
    if (QFileInfo::exists(m_file) && !QFileInfo(m_file).isWritable())
        return QStringLiteral("нет прав на запись в файл");
    if (const QString problem = makeFolder(folder); !problem.isEmpty())
        return problem;
    // The new file is written beside the old one and renamed over it.
    if (!QFileInfo(folder).isWritable())
        return QStringLiteral("нет прав на запись в папку %1").arg(folder);
    QLockFile lock(m_file + QStringLiteral(".lock"));
    Values values;
    if (const QString problem = takeLock(lock, m_file); !problem.isEmpty())
        return problem;
    if (const QString problem = readValues(m_file, &values, true); !problem.isEmpty())
        return problem;
    SettingsStore now{QString()};
    now.m_held = values;
    now.m_held.insert(m_held);
    *changes = choose(now);
    for (const Change &change : std::as_const(*changes))
        values[keyPath(change.section, change.key)] = change.text;
    return changes->isEmpty() ? QString()
                              : keepingOwner(m_file, [&] { return writeWholeFile(m_file, serialized(values)); });
}

bool SettingsStore::saveChosen(const Chooser &choose)
{
    QList<Change> changes;
    const QString problem = m_file.isEmpty() ? QString() : saveToFile(choose, &changes);
    const bool inFile = !m_file.isEmpty() && problem.isEmpty();
    // Not in the file: held for the run, as chosen from what this run can see.
    if (!inFile && changes.isEmpty())
        changes = choose(*this);
    for (const Change &change : std::as_const(changes)) {
        if (inFile)
            m_held.remove(keyPath(change.section, change.key));
        else
            m_held[keyPath(change.section, change.key)] = change.text;
    }
    if (!problem.isEmpty() && m_tellProblem)
        m_tellProblem(
            QStringLiteral("Не удалось сохранить настройки в %1: %2").arg(QDir::toNativeSeparators(m_file), problem));
    return problem.isEmpty();
}
