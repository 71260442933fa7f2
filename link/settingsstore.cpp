#include "link/settingsstore.h"

#include "link/systemerror.h"
#include "link/wholefile.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QThread>

#include <algorithm>
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

// Where QSettings keeps the user's INI file for the application.
QString userFolder()
{
#ifdef Q_OS_WIN
    const QString appData = qEnvironmentVariable("APPDATA");
    if (!appData.isEmpty())
        return QDir::fromNativeSeparators(appData);
#endif
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

// What sits at path when it is not a regular file; "" for a regular file or nothing.
QString oddKind(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || S_ISREG(st.st_mode))
        return QString();
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("папка");
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("канал (FIFO)");
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return QStringLiteral("устройство");
    return S_ISSOCK(st.st_mode) ? QStringLiteral("сокет") : QStringLiteral("не обычный файл");
#else
    const QFileInfo info(path);
    if (!info.exists() || info.isFile())
        return QString();
    return info.isDir() ? QStringLiteral("папка") : QStringLiteral("не обычный файл");
#endif
}

// Why what stands at the file's path is not a settings file to open: a
// FIFO or a device would block or answer anything, and a link to nowhere
// would make a file wherever it points.
QString notOurFile(const QString &file)
{
    const QFileInfo info(file);
    if (info.isSymLink() && !info.exists())
        return QStringLiteral("на месте файла ссылка на несуществующий %1").arg(info.symLinkTarget());
    if (const QString kind = oddKind(file); !kind.isEmpty())
        return info.isSymLink() ? QStringLiteral("на месте файла ссылка на %1 (%2)").arg(info.symLinkTarget(), kind)
                                : QStringLiteral("на месте файла ") + kind;
    if (info.size() > kMaxBytes)
        return QStringLiteral("файл занимает %1 байт, больше 1 МиБ: это не файл настроек").arg(info.size());
    return QString();
}

// QLockFile opens what it finds at its path to read who holds it, and a
// FIFO never answers: only a regular file is left to it.
QString lockPathProblem(const QString &path)
{
    const QFileInfo info(path);
    const QString at = QStringLiteral("на месте файла блокировки %1 ").arg(path);
    if (info.isSymLink())
        return at + QStringLiteral("ссылка на ") + info.symLinkTarget();
    const QString kind = oddKind(path);
    return kind.isEmpty() ? QString() : at + kind;
}

// A stamp of the saving under way: the file as it is on disk, and who holds
// its lock. Each save of another process changes it.
QString stamp(const QString &file, const QLockFile &lock)
{
    const QFileInfo info(file);
    qint64 pid = 0;
    QString host;
    QString app;
    lock.getLockInfo(&pid, &host, &app);
    return QStringLiteral("%1/%2/%3").arg(info.lastModified().toMSecsSinceEpoch()).arg(info.size()).arg(pid);
}

// Whether a save is writing its new file beside the old one: on a busy disk
// that can take seconds, all of them inside the lock. One left behind by a
// save that died counts for half a minute.
bool newFileBeingWritten(const QString &file)
{
    const QFileInfo info(file);
    const QDateTime recent = QDateTime::currentDateTime().addSecs(-30);
    const QFileInfoList written = QDir(info.absolutePath())
                                      .entryInfoList({info.fileName() + QStringLiteral(".??????")},
                                                     QDir::Files | QDir::Hidden);
    return std::any_of(written.cbegin(), written.cend(),
                       [&recent](const QFileInfo &one) { return one.lastModified() > recent; });
}

// The lock QSettings takes too, <file>.lock. Many saving at once wait in
// turn as long as the saves go on; one process that holds the lock 3 s
// without writing the file is named, and this save gives up.
QString takeLock(QLockFile &lock, const QString &file)
{
    const QString lockName = file + QStringLiteral(".lock");
    QDeadlineTimer deadline(kLockWaitMs);
    QString seen;
    forever {
        for (const QString &path : {lockName, lockName + QStringLiteral(".rmlock")})
            if (const QString problem = lockPathProblem(path); !problem.isEmpty())
                return problem;
        // Takes over a lock whose holder is gone, as QSettings would.
        if (lock.tryLock(0))
            return QString();
        if (lock.error() != QLockFile::LockFailedError)
            return errno != 0 ? systemErrorText(errno) : QStringLiteral("не удалось создать файл блокировки %1").arg(lockName);
        if (const QString now = stamp(file, lock); now != seen || newFileBeingWritten(file)) {
            seen = now;
            deadline.setRemainingTime(kLockWaitMs);
        }
        if (deadline.hasExpired())
            break;
        QThread::msleep(2);
    }
    qint64 pid = 0;
    QString host;
    QString app;
    if (lock.getLockInfo(&pid, &host, &app) && pid > 0)
        return QStringLiteral("файл занят другой программой: %1 (процесс %2), файл блокировки %3")
            .arg(app.isEmpty() ? QStringLiteral("?") : app)
            .arg(pid)
            .arg(lockName);
    return QStringLiteral("файл блокировки %1 занят дольше %2 с").arg(lockName).arg(kLockWaitMs / 1000);
}

// Makes the folder and any missing above it. Made by root in a user's home,
// they are given to the owner of the folder they were made in.
QString makeFolder(const QString &folder)
{
    QStringList missing;
    QString existing = QDir::cleanPath(folder);
    while (!QFileInfo::exists(existing) && QFileInfo(existing).absolutePath() != existing) {
        missing.prepend(existing);
        existing = QFileInfo(existing).absolutePath();
    }
    if (!QFileInfo(existing).isDir())
        return QStringLiteral("%1 не папка").arg(existing);
    for (const QString &dir : std::as_const(missing)) {
        if (!QDir().mkdir(dir))
            return QStringLiteral("не удалось создать папку %1: %2").arg(dir, systemErrorText(errno));
#ifdef Q_OS_UNIX
        struct stat above;
        if (::geteuid() == 0 && ::stat(QFile::encodeName(existing).constData(), &above) == 0 && above.st_uid != 0)
            (void)::chown(QFile::encodeName(dir).constData(), above.st_uid, above.st_gid);
#endif
    }
    return QString();
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

QString encodedName(const QString &name)
{
    return QString::fromLatin1(name.toUtf8().toPercentEncoding());
}

QString decodedName(const QString &name)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(name.toUtf8()));
}

// The file's values; *notUtf8 names the first key whose line is not UTF-8.
Values parse(QByteArray bytes, QString *notUtf8)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    Values values;
    QString section;
    for (const QByteArray &raw : bytes.split('\n')) {
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString line = QString(utf8(raw)).trimmed();
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (line.startsWith(QLatin1Char('[')) && line.contains(QLatin1Char(']'))) {
            section = decodedName(line.mid(1, line.indexOf(QLatin1Char(']')) - 1).trimmed());
        } else if (equals > 0 && !line.startsWith(QLatin1Char(';')) && !line.startsWith(QLatin1Char('#'))) {
            const QString path = keyPath(section, decodedName(line.left(equals).trimmed()));
            values[path] = unescaped(line.mid(equals + 1));
            if (utf8.hasError() && notUtf8->isEmpty())
                *notUtf8 = path;
        }
    }
    return values;
}

QByteArray serialized(const Values &values)
{
    QString text;
    QString section;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const qsizetype slash = it.key().indexOf(QLatin1Char('/'));
        if (it == values.cbegin() || it.key().left(slash) != section) {
            section = it.key().left(slash);
            text += (text.isEmpty() ? QString() : QStringLiteral("\n")) + QLatin1Char('[') + encodedName(section)
                    + QStringLiteral("]\n");
        }
        text += encodedName(it.key().mid(slash + 1)) + QLatin1Char('=') + escaped(it.value()) + QLatin1Char('\n');
    }
    return text.toUtf8();
}

// Reads the file's values; the reason when it may not be read ("" when it
// may, or when there is none).
QString readValues(const QString &file, Values *values, QString *notUtf8)
{
    if (!QFileInfo::exists(file))
        return QString();
    if (const QString problem = notOurFile(file); !problem.isEmpty())
        return problem;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return QStringLiteral("нет прав на чтение файла");
    *values = parse(in.read(kMaxBytes), notUtf8);
    return QString();
}

// Why a save cannot even begin: the file or its folder stand in the way.
QString whyNotSave(const QString &file)
{
    if (const QString problem = notOurFile(file); !problem.isEmpty())
        return problem;
    const QFileInfo info(file);
    if (info.exists() && !info.isWritable())
        return QStringLiteral("нет прав на запись в файл");
    const QString folder = info.absolutePath();
    if (const QString problem = makeFolder(folder); !problem.isEmpty())
        return problem;
    // The new file is written beside the old one and renamed over it.
    if (!QFileInfo(folder).isWritable())
        return QStringLiteral("нет прав на запись в папку %1").arg(folder);
    return QString();
}

// Writes the file anew, whole or not at all. Run by root on another user's
// file (sudo), the new file goes back to the owner of the old one, or of its folder.
QString writeWhole(const QString &file, const QByteArray &bytes)
{
#ifdef Q_OS_UNIX
    struct stat owner;
    const bool keepOwner = ::geteuid() == 0
                           && (::stat(QFile::encodeName(file).constData(), &owner) == 0
                               || ::stat(QFile::encodeName(QFileInfo(file).absolutePath()).constData(), &owner) == 0);
#endif
    const QString problem = writeWholeFile(file, bytes);
#ifdef Q_OS_UNIX
    if (problem.isEmpty() && keepOwner)
        (void)::chown(QFile::encodeName(file).constData(), owner.st_uid, owner.st_gid);
#endif
    return problem;
}

} // namespace

SettingsStore::SettingsStore()
    : m_file(fileIn(userFolder()))
{
}

SettingsStore::SettingsStore(const QString &iniFile)
    : m_file(iniFile)
{
}

QString SettingsStore::fileIn(const QString &folder)
{
    return folder + QLatin1Char('/') + kApp + QStringLiteral(".ini");
}

QString SettingsStore::read(const QString &app, const QString &section, const QString &key,
                            const QString &def) const
{
    Q_UNUSED(app);
    return values().value(keyPath(section, key), def);
}

QMap<QString, QString> SettingsStore::values() const
{
    Values values;
    if (!m_file.isEmpty()) {
        QString notUtf8;
        const QString problem = readValues(m_file, &values, &notUtf8);
        if (problem != m_readProblem) {
            m_readProblem = problem;
            if (!problem.isEmpty() && m_tellProblem)
                m_tellProblem(QStringLiteral("Не удалось прочитать настройки из %1: %2; действуют значения по умолчанию")
                                  .arg(QDir::toNativeSeparators(m_file), problem));
        }
    }
    for (auto it = m_held.cbegin(); it != m_held.cend(); ++it)
        values[it.key()] = it.value();
    return values;
}

bool SettingsStore::save(const QString &app, const QString &section, const QString &key,
                         const QString &text)
{
    Q_UNUSED(app);
    return saveChosen([&](const SettingsStore &) { return QList<Change>{{section, key, text}}; });
}

bool SettingsStore::saveChosen(const std::function<QList<Change>(const SettingsStore &now)> &choose)
{
    if (m_file.isEmpty()) {
        for (const Change &change : choose(*this))
            m_held[keyPath(change.section, change.key)] = change.text;
        return true;
    }
    QList<Change> changes;
    QString problem = whyNotSave(m_file);
    if (problem.isEmpty()) {
        QLockFile lock(m_file + QStringLiteral(".lock"));
        Values values;
        QString notUtf8;
        if ((problem = takeLock(lock, m_file)).isEmpty())
            problem = readValues(m_file, &values, &notUtf8);
        if (problem.isEmpty() && !notUtf8.isEmpty())
            // Written back, such text would turn into replacement characters.
            problem = QStringLiteral("в нём есть текст не в кодировке UTF-8 (ключ %1), запись испортила бы его").arg(notUtf8);
        if (problem.isEmpty()) {
            SettingsStore now{QString()};
            now.m_held = m_held;
            for (auto it = values.cbegin(); it != values.cend(); ++it)
                now.m_held.insert(it.key(), m_held.value(it.key(), it.value()));
            changes = choose(now);
            for (const Change &change : std::as_const(changes))
                values[keyPath(change.section, change.key)] = change.text;
            problem = changes.isEmpty() ? QString() : writeWhole(m_file, serialized(values));
        }
    }
    if (problem.isEmpty()) {
        for (const Change &change : std::as_const(changes))
            m_held.remove(keyPath(change.section, change.key));
        return true;
    }
    // Held for the run, as chosen from what this run can see.
    if (changes.isEmpty())
        changes = choose(*this);
    for (const Change &change : std::as_const(changes))
        m_held[keyPath(change.section, change.key)] = change.text;
    if (m_tellProblem)
        m_tellProblem(QStringLiteral("Не удалось сохранить настройки в %1: %2")
                          .arg(QDir::toNativeSeparators(m_file), problem));
    return false;
}

QString SettingsStore::fileName() const
{
    return m_file;
}

void SettingsStore::setProblemHandler(std::function<void(const QString &)> handler)
{
    m_tellProblem = std::move(handler);
}
