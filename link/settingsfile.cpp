#include "link/settingsfile.h"

#include "link/systemerror.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QThread>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QDateTime>
#include <QTemporaryFile>
#endif

namespace SettingsFile {
namespace {

constexpr int kLockWaitMs = 3000;

QString tooBig(qint64 size)
{
    return QStringLiteral("файл занимает %1 байт, больше 1 МиБ: это не файл настроек").arg(size);
}

#ifdef Q_OS_UNIX

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("папка");
    if (S_ISFIFO(mode))
        return QStringLiteral("канал (FIFO)");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("устройство");
    if (S_ISSOCK(mode))
        return QStringLiteral("сокет");
    return QStringLiteral("не обычный файл");
}

// What sits at the path instead of a file, a symbolic link named with its target.
QString notAFile(const QString &path, const struct stat &target)
{
    struct stat link;
    if (::lstat(native(path).constData(), &link) == 0 && S_ISLNK(link.st_mode))
        return QStringLiteral("на месте файла ссылка на %1 (%2)").arg(QFile::symLinkTarget(path), kindOf(target.st_mode));
    return QStringLiteral("на месте файла %1").arg(kindOf(target.st_mode));
}

// A link whose target is missing: QSettings would make the target, wherever it points.
QString danglingLink(const QString &path)
{
    struct stat link;
    if (::lstat(native(path).constData(), &link) == 0 && S_ISLNK(link.st_mode))
        return QStringLiteral("на месте файла ссылка на несуществующий %1").arg(QFile::symLinkTarget(path));
    return QString();
}

// Makes the folder and any missing folders above it. Made by root in a
// user's home, they are given to the owner of the folder they were made in.
QString makeFolder(const QString &folder)
{
    QStringList missing;
    QString existing = QDir::cleanPath(folder);
    struct stat st;
    while (::stat(native(existing).constData(), &st) != 0) {
        if (errno != ENOENT)
            return QStringLiteral("папка %1 недоступна: %2").arg(existing, systemErrorText(errno));
        missing.prepend(existing);
        const QString parent = QFileInfo(existing).absolutePath();
        if (parent == existing)
            break;
        existing = parent;
    }
    if (!missing.isEmpty() && !S_ISDIR(st.st_mode))
        return QStringLiteral("%1 не папка").arg(existing);
    for (const QString &dir : std::as_const(missing)) {
        if (::mkdir(native(dir).constData(), 0777) != 0 && errno != EEXIST)
            return QStringLiteral("не удалось создать папку %1: %2").arg(dir, systemErrorText(errno));
        if (::geteuid() == 0 && st.st_uid != 0)
            (void)::chown(native(dir).constData(), st.st_uid, st.st_gid);
    }
    return QString();
}

// A file of the size the save will write, made beside the settings and
// removed again: the system says why the real one would fail (no space, a
// quota, a file size limit), which QSettings does not.
QString probeWrite(const QString &file, qint64 bytes)
{
    QByteArray name = native(file + QStringLiteral(".probe-XXXXXX"));
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return systemErrorText(errno);
    const QByteArray block(4096, ' ');
    int error = 0;
    for (qint64 left = bytes; left > 0 && error == 0;) {
        const ssize_t n = ::write(fd, block.constData(), size_t(qMin<qint64>(left, block.size())));
        if (n < 0 && errno != EINTR)
            error = errno;
        else if (n > 0)
            left -= n;
    }
    if (::close(fd) != 0 && error == 0)
        error = errno;
    ::unlink(name.constData());
    return error == 0 ? QString() : systemErrorText(error);
}

// QSettings takes the lock <file>.lock with QLockFile::lock(), which waits
// for ever, opens what it finds there to read who holds it (a FIFO never
// answers), and loops for ever on a lock file it may not remove. Only a
// regular file that can be read and written is left for it to handle.
QString lockPathProblem(const QString &path)
{
    struct stat st;
    if (::lstat(native(path).constData(), &st) != 0)
        return errno == ENOENT ? QString() : QStringLiteral("файл блокировки %1 недоступен: %2").arg(path, systemErrorText(errno));
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("на месте файла блокировки %1 ссылка на %2").arg(path, QFile::symLinkTarget(path));
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("на месте файла блокировки %1 %2").arg(path, kindOf(st.st_mode));
    if (::access(native(path).constData(), R_OK | W_OK) != 0)
        return QStringLiteral("нет прав на файл блокировки %1").arg(path);
    return QString();
}

bool lockPresent(const QString &path)
{
    struct stat st;
    return ::lstat(native(path).constData(), &st) == 0;
}

#endif // Q_OS_UNIX

// Another program saving holds the lock for a moment; one that holds it
// until the deadline is named, and this save gives up.
QString waitForLock(const QString &file, const QDeadlineTimer &deadline)
{
    const QString lockName = file + QStringLiteral(".lock");
    QLockFile lock(lockName);
    forever {
#ifdef Q_OS_UNIX
        for (const QString &path : {lockName, lockName + QStringLiteral(".rmlock")}) {
            const QString problem = lockPathProblem(path);
            if (!problem.isEmpty())
                return problem;
        }
        if (!lockPresent(lockName))
            return QString();
#else
        if (!QFileInfo::exists(lockName))
            return QString();
#endif
        // Takes over a lock whose holder is gone, as QSettings would.
        if (lock.tryLock(0)) {
            lock.unlock();
            return QString();
        }
        if (deadline.hasExpired())
            break;
        QThread::msleep(10);
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

} // namespace

#ifdef Q_OS_UNIX

QString whyNotRead(const QString &file)
{
    struct stat st;
    if (::stat(native(file).constData(), &st) != 0)
        return errno == ENOENT ? QString() : systemErrorText(errno);
    if (!S_ISREG(st.st_mode))
        return notAFile(file, st);
    if (st.st_size > kMaxBytes)
        return tooBig(st.st_size);
    if (::access(native(file).constData(), R_OK) != 0)
        return QStringLiteral("нет прав на чтение файла");
    return QString();
}

QString whyNotSave(const QString &file, qint64 bytes)
{
    struct stat st;
    if (::stat(native(file).constData(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return notAFile(file, st);
        if (st.st_size > kMaxBytes)
            return tooBig(st.st_size);
        if (::access(native(file).constData(), W_OK) != 0)
            return errno == EACCES ? QStringLiteral("нет прав на запись в файл") : systemErrorText(errno);
    } else if (errno != ENOENT) {
        return systemErrorText(errno);
    } else if (const QString link = danglingLink(file); !link.isEmpty()) {
        return link;
    }

    const QString folder = QFileInfo(file).absolutePath();
    if (const QString problem = makeFolder(folder); !problem.isEmpty())
        return problem;
    // QSettings writes a new file beside the old one and renames it over.
    if (::access(native(folder).constData(), W_OK | X_OK) != 0)
        return errno == EACCES ? QStringLiteral("нет прав на запись в папку %1").arg(folder) : systemErrorText(errno);
    return probeWrite(file, bytes);
}

QString whyNotSaved(const QString &file, qint64 bytes)
{
    const QString problem = whyNotSave(file, bytes);
    return problem.isEmpty() ? QStringLiteral("ошибка записи") : problem;
}

Turn::Turn(const QString &file, Kind kind)
{
    // O_DIRECTORY: whatever else sits at the folder's path is never opened.
    m_folder = ::open(native(QFileInfo(file).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_folder >= 0) {
        const int operation = (kind == Saving ? LOCK_EX : LOCK_SH) | LOCK_NB;
        // Many saving at once wait in turn as long as the file keeps changing;
        // 3 s without a save means the one holding the turn is stuck.
        QDeadlineTimer deadline(kLockWaitMs);
        Identity seen = identity(file);
        while (::flock(m_folder, operation) != 0) {
            // A file system without flock: QSettings' lock alone keeps saves apart.
            if (errno != EWOULDBLOCK && errno != EINTR)
                break;
            if (const Identity now = identity(file); !(now == seen)) {
                seen = now;
                deadline.setRemainingTime(kLockWaitMs);
            }
            if (deadline.hasExpired()) {
                if (kind == Saving)
                    m_problem = QStringLiteral("файл занят: другой процесс сохраняет его и не закончил за %1 с").arg(kLockWaitMs / 1000);
                return;
            }
            QThread::msleep(2);
        }
    }
    if (kind == Saving)
        m_problem = waitForLock(file, QDeadlineTimer(kLockWaitMs));
}

Turn::~Turn()
{
    if (m_folder >= 0)
        ::close(m_folder);
}

Identity identity(const QString &file)
{
    Identity id;
    struct stat st;
    if (::stat(native(file).constData(), &st) != 0)
        return id;
    id.exists = true;
    id.device = qint64(st.st_dev);
    id.inode = qint64(st.st_ino);
    id.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    id.size = qint64(st.st_size);
    return id;
}

Owner::Owner(const QString &file) : m_file(file)
{
    if (::geteuid() != 0)
        return;
    // A new file belongs to the owner of its folder.
    struct stat st;
    if (::stat(native(file).constData(), &st) == 0 || ::stat(native(QFileInfo(file).absolutePath()).constData(), &st) == 0) {
        m_keep = true;
        m_uid = st.st_uid;
        m_gid = st.st_gid;
    }
}

void Owner::restore() const
{
    struct stat st;
    if (m_keep && ::stat(native(m_file).constData(), &st) == 0 && (st.st_uid != m_uid || st.st_gid != m_gid))
        (void)::chown(native(m_file).constData(), m_uid, m_gid);
}

#else // Windows: no FIFOs or device nodes in a user's folder, and no owner to give back.

QString whyNotRead(const QString &file)
{
    const QFileInfo info(file);
    if (!info.exists())
        return QString();
    if (!info.isFile())
        return QStringLiteral("на месте файла папка");
    if (info.size() > kMaxBytes)
        return tooBig(info.size());
    return QString();
}

QString whyNotSave(const QString &file, qint64 bytes)
{
    if (const QString problem = whyNotRead(file); !problem.isEmpty())
        return problem;
    const QString folder = QFileInfo(file).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("не удалось создать папку %1").arg(QDir::toNativeSeparators(folder));
    QTemporaryFile probe(file + QStringLiteral(".probe-XXXXXX"));
    if (!probe.open())
        return QStringLiteral("нет прав на запись в папку %1").arg(QDir::toNativeSeparators(folder));
    if (probe.write(QByteArray(int(qMin<qint64>(bytes, kMaxBytes)), ' ')) != qMin<qint64>(bytes, kMaxBytes)
        || !probe.flush())
        return QStringLiteral("нет места на диске или ошибка записи: %1").arg(probe.errorString());
    probe.close();
    return QString();
}

QString whyNotSaved(const QString &file, qint64 bytes)
{
    const QString problem = whyNotSave(file, bytes);
    return problem.isEmpty() ? QStringLiteral("ошибка записи") : problem;
}

Turn::Turn(const QString &file, Kind kind)
{
    if (kind == Saving)
        m_problem = waitForLock(file, QDeadlineTimer(kLockWaitMs));
}

Turn::~Turn() = default;

Identity identity(const QString &file)
{
    Identity id;
    const QFileInfo info(file);
    id.exists = info.exists();
    id.modifiedNs = info.lastModified().toMSecsSinceEpoch() * 1000000;
    id.size = info.size();
    return id;
}

Owner::Owner(const QString &file) : m_file(file) {}

void Owner::restore() const {}

#endif

} // namespace SettingsFile
