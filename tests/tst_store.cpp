// The settings file when things go wrong around it: a full disk, no rights,
// something that is not a file in its place or at its lock, another process
// holding the lock, many processes saving at once, a file far too big, a
// byte-order mark, root saving a user's file. The file is never lost or
// damaged, nothing hangs, and every failure is told once with its reason.
#include "link/settingsstore.h"
#include "link/wholefile.h"
#include "support/testsupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QByteArray kKept = "[COMPORT]\nCOM=5\nBAUD=9600\n\n[PORTS]\nCOM5=/dev/ttyUSB0\n";
constexpr uid_t kOtherUser = 65534;   // nobody

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList folderEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// Fills the file system of the folder up to its last byte.
void fillUp(const QString &folder)
{
    QFile filler(QDir(folder).filePath("filler"));
    if (filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        while (filler.write(QByteArray(512, 'x')) > 0) {
        }
    }
}

// What a child process said and how it ended.
struct ChildRun
{
    int status = -1;   // exit status; -1 when killed or still running at the deadline
    qint64 ms = 0;
    QStringList problems;
};

// Runs body in a forked child with a store on `file`; the child's problems come
// back through a pipe. A child still running after timeoutMs is killed.
ChildRun inChild(const QString &file, const std::function<int(SettingsStore &)> &body, int timeoutMs = 10000)
{
    int fds[2];
    ChildRun run;
    if (::pipe(fds) != 0)
        return run;
    QElapsedTimer wall;
    wall.start();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        SettingsStore store(file);
        store.setProblemHandler([fd = fds[1]](const QString &text) {
            const QByteArray line = text.toUtf8() + '\n';
            (void)!::write(fd, line.constData(), size_t(line.size()));
        });
        ::_exit(body(store));
    }
    ::close(fds[1]);
    int status = 0;
    pid_t ended = 0;
    while ((ended = ::waitpid(pid, &status, WNOHANG)) == 0 && wall.elapsed() < timeoutMs)
        QThread::msleep(5);
    if (ended == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    } else if (WIFEXITED(status)) {
        run.status = WEXITSTATUS(status);
    }
    run.ms = wall.elapsed();
    QByteArray said;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        said.append(buffer, n);
    ::close(fds[0]);
    run.problems = QString::fromUtf8(said).split('\n', Qt::SkipEmptyParts);
    return run;
}

// One reading and one saving, as the programs do at start and after a check.
int readFourSaveOne(SettingsStore &store)
{
    readSetting(store, "COMPORT", "COM", "2");
    readSetting(store, "COMPORT", "BAUD", "4800");
    readSetting(store, "NBLOCK", "BLOCK", "1");
    const bool com2 = readSetting(store, "COMPORT", "COM", "2") == "2";
    return (store.save({"NBLOCK", "BLOCK", "7"}) ? 1 : 0) + (com2 ? 2 : 0);
}

QString saveFailure(const QString &file, const QString &reason)
{
    return QStringLiteral("Не удалось сохранить настройки в %1: %2").arg(file, reason);
}

QString readFailure(const QString &file, const QString &reason)
{
    return QStringLiteral("Не удалось прочитать настройки из %1: %2; действуют значения по умолчанию").arg(file, reason);
}

bool runningAsRoot()
{
    return ::geteuid() == 0;
}

} // namespace

class TestStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void userFileIsWhereQSettingsKeepsIt();
    void fullDiskLeavesTheFileAsItWas_data();
    void fullDiskLeavesTheFileAsItWas();
    void wholeFileOnAFullDiskLeavesTheOldOne();
    void whatIsNotAFileIsNeverOpenedNorReplaced_data();
    void whatIsNotAFileIsNeverOpenedNorReplaced();
    void lockHeldByAnotherProcessIsWaitedForThreeSeconds();
    void concurrentSavesLoseNoKey();
    void withoutRightsToldAndKept_data();
    void withoutRightsToldAndKept();
    void fileOverOneMebibyteIsNeitherReadNorWritten();
    void byteOrderMarkReadsAsNothing();
    void rootSavingKeepsTheOwner();
};

void TestStore::userFileIsWhereQSettingsKeepsIt()
{
    // Files written by earlier versions through QSettings' user scope read the same.
    QCOMPARE(SettingsStore().fileName(),
             QSettings(QSettings::IniFormat, QSettings::UserScope, kApp).fileName());
}

void TestStore::fullDiskLeavesTheFileAsItWas_data()
{
    QTest::addColumn<bool>("tmpfs");
    QTest::addColumn<QString>("reason");
    QTest::newRow("file size limit") << false << "превышен предельный размер файла для программы (ulimit -f)";
    QTest::newRow("full tmpfs") << true << "нет места на диске";
}

void TestStore::fullDiskLeavesTheFileAsItWas()
{
    QFETCH(bool, tmpfs);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QString folder = dir.path();
    bool mounted = false;
    const auto unmount = qScopeGuard([&] {
        if (mounted)
            ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH);
    });
    if (tmpfs) {
        folder = dir.filePath("small");
        QVERIFY(QDir().mkpath(folder));
        if (::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=8k") != 0)
            QSKIP("no right to mount a small tmpfs (needs root)");
        mounted = true;
    }
    const QString file = SettingsStore::fileIn(folder);
    QVERIFY(writeFile(file, kKept));
    if (tmpfs)
        fillUp(folder);
    const QStringList before = folderEntries(folder);

    const ChildRun run = inChild(file, [tmpfs](SettingsStore &store) {
        if (!tmpfs) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{16, RLIM_INFINITY};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        return store.save({"NBLOCK", "BLOCK", "7"}) ? 1 : 0;
    });
    QCOMPARE(run.status, 0);
    QCOMPARE(fileBytes(file), kKept);
    QCOMPARE(folderEntries(folder), before);
    QCOMPARE(run.problems, QStringList{saveFailure(file, reason)});
    QCOMPARE(readSetting(SettingsStore(file), "PORTS", "COM5", "none"), QString("/dev/ttyUSB0"));
}

// A saved log (or report) on a full disk, smaller than Qt's write buffer:
// its failure shows only when the buffer is flushed.
void TestStore::wholeFileOnAFullDiskLeavesTheOldOne()
{
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path());
    if (::mount("tmpfs", folder.constData(), "tmpfs", 0, "size=8k") != 0)
        QSKIP("no right to mount a small tmpfs (needs root)");
    const auto unmount = qScopeGuard([&] { ::umount2(folder.constData(), MNT_DETACH); });
    const QString log = dir.filePath("log.txt");
    QVERIFY(writeFile(log, kKept));
    fillUp(dir.path());
    const QStringList before = folderEntries(dir.path());
    QCOMPARE(writeWholeFile(log, QByteArray(2000, 'n')), QStringLiteral("нет места на диске"));
    QCOMPARE(fileBytes(log), kKept);
    QCOMPARE(folderEntries(dir.path()), before);
    // A report into a folder that is not there is told in words too.
    QCOMPARE(writeWholeFile(dir.filePath("gone/report.pdf"), "x"), QStringLiteral("нет такой папки или файла"));
}

void TestStore::whatIsNotAFileIsNeverOpenedNorReplaced_data()
{
    QTest::addColumn<QString>("thing");   // fifo, device-link, device, folder
    QTest::addColumn<bool>("atLock");     // at <file>.lock rather than at the file
    QTest::addColumn<QString>("reason");
    QTest::newRow("FIFO as the file") << "fifo" << false << "на месте файла канал (FIFO)";
    QTest::newRow("link to a null device as the file") << "device-link" << false
                                                       << "на месте файла ссылка на %2 (устройство)";
    QTest::newRow("device node as the file") << "device" << false << "на месте файла устройство";
    QTest::newRow("folder as the file") << "folder" << false << "на месте файла папка";
    QTest::newRow("FIFO at the lock") << "fifo" << true << "на месте файла блокировки %1 канал (FIFO)";
    QTest::newRow("link to a null device at the lock") << "device-link" << true
                                                       << "на месте файла блокировки %1 ссылка на %2";
    QTest::newRow("device node at the lock") << "device" << true << "на месте файла блокировки %1 устройство";
    QTest::newRow("folder at the lock") << "folder" << true << "на месте файла блокировки %1 папка";
}

void TestStore::whatIsNotAFileIsNeverOpenedNorReplaced()
{
    QFETCH(QString, thing);
    QFETCH(bool, atLock);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString file = SettingsStore::fileIn(dir.path());
    const QString lock = file + ".lock";
    const QString path = atLock ? lock : file;
    const QByteArray native = QFile::encodeName(path);
    // A link to /dev/null is how people stop a program saving. Run by root, a
    // store that replaced what the link leads to would replace the system's
    // own /dev/null: root's link leads to a null device node of the test's.
    const QString nullDevice = runningAsRoot() ? dir.filePath("null") : QString("/dev/null");
    if (runningAsRoot())
        QCOMPARE(::mknod(QFile::encodeName(nullDevice).constData(), S_IFCHR | 0666, makedev(1, 3)), 0);
    if (thing == "fifo") {
        QCOMPARE(::mkfifo(native.constData(), 0600), 0);
    } else if (thing == "device-link") {
        QVERIFY(QFile::link(nullDevice, path));
    } else if (thing == "device") {
        // The null device again, as its own node: only root may make one.
        if (::mknod(native.constData(), S_IFCHR | 0600, makedev(1, 3)) != 0)
            QSKIP("no right to make a device node (needs root)");
    } else {
        QVERIFY(QDir().mkdir(path));
    }
    if (atLock)
        QVERIFY(writeFile(file, kKept));
    struct stat was;
    QCOMPARE(::lstat(native.constData(), &was), 0);
    const QStringList before = folderEntries(dir.path());

    const ChildRun run = inChild(file, readFourSaveOne, 3000);
    QVERIFY2(run.status >= 0, "the store did not finish within 3 s");
    QCOMPARE(run.status, atLock ? 0 : 2);   // never saved; the defaults read where the file is not one
    struct stat now;
    QCOMPARE(::lstat(native.constData(), &now), 0);
    QCOMPARE(now.st_mode, was.st_mode);
    QCOMPARE(now.st_rdev, was.st_rdev);
    QCOMPARE(now.st_ino, was.st_ino);
    QCOMPARE(folderEntries(dir.path()), before);
    if (thing == "device-link") {
        QCOMPARE(QFile::symLinkTarget(path), nullDevice);
        struct stat device;
        QCOMPARE(::stat(QFile::encodeName(nullDevice).constData(), &device), 0);
        QVERIFY(S_ISCHR(device.st_mode));
    }
    if (atLock) {
        QCOMPARE(fileBytes(file), kKept);
        reason = reason.arg(lock);
        QCOMPARE(run.problems, QStringList{saveFailure(file, reason.contains("%2") ? reason.arg(nullDevice) : reason)});
    } else {
        if (reason.contains("%2"))
            reason.replace("%2", nullDevice);
        QCOMPARE(run.problems, QStringList({readFailure(file, reason), saveFailure(file, reason)}));
    }
}

void TestStore::lockHeldByAnotherProcessIsWaitedForThreeSeconds()
{
    QTemporaryDir dir;
    const QString file = SettingsStore::fileIn(dir.path());
    QVERIFY(writeFile(file, kKept));
    int ready[2];
    QCOMPARE(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        QLockFile lock(file + ".lock");
        const char held = lock.tryLock(0) ? 'y' : 'n';
        (void)!::write(ready[1], &held, 1);
        ::pause();
        ::_exit(0);
    }
    const auto stopHolder = qScopeGuard([holder] {
        ::kill(holder, SIGKILL);
        ::waitpid(holder, nullptr, 0);
    });
    char held = 0;
    QCOMPARE(::read(ready[0], &held, 1), ssize_t(1));
    QCOMPARE(held, 'y');

    const ChildRun run = inChild(file, [](SettingsStore &store) {
        return store.save({"NBLOCK", "BLOCK", "7"}) ? 1 : 0;
    });
    QCOMPARE(run.status, 0);
    QVERIFY2(run.ms >= 2900 && run.ms < 5000, qPrintable(QString::number(run.ms)));
    QCOMPARE(fileBytes(file), kKept);
    QCOMPARE(run.problems.size(), 1);
    QVERIFY2(run.problems.at(0).startsWith(saveFailure(file, "файл занят другой программой: "))
                 && run.problems.at(0).contains(QStringLiteral("(процесс %1)").arg(holder)),
             qPrintable(run.problems.at(0)));
}

void TestStore::concurrentSavesLoseNoKey()
{
    constexpr int kProcesses = 64;
    constexpr int kKeysEach = 5;
    QTemporaryDir dir;
    const QString file = SettingsStore::fileIn(dir.path());
    QVERIFY(writeFile(file, kKept));
    int start[2];
    QCOMPARE(::pipe(start), 0);
    QList<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(start[1]);
            char go;
            (void)!::read(start[0], &go, 1);   // all start together when the pipe closes
            SettingsStore store(file);
            bool saved = true;
            for (int k = 0; k < kKeysEach; ++k)
                saved = store.save({"SAVED", QStringLiteral("K%1-%2").arg(i).arg(k), QString::number(i)}) && saved;
            // A number is chosen among those still free and taken in one step, as a found port takes its COM number.
            saved = store.saveChosen([i](const SettingsStore &now) {
                int free = 1;
                while (!readSetting(now, "TAKEN", QString::number(free), QString()).isEmpty())
                    ++free;
                return QList<SettingsStore::Change>{{"TAKEN", QString::number(free), QString::number(i)}};
            }) && saved;
            ::_exit(saved ? 0 : 1);
        }
        children << pid;
    }
    ::close(start[0]);
    ::close(start[1]);
    int failed = 0;
    for (const pid_t pid : std::as_const(children)) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        failed += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    QCOMPARE(failed, 0);
    QSettings saved(file, QSettings::IniFormat);
    QSet<QString> takers;
    for (int i = 0; i < kProcesses; ++i) {
        for (int k = 0; k < kKeysEach; ++k)
            QCOMPARE(saved.value(QStringLiteral("SAVED/K%1-%2").arg(i).arg(k)).toString(), QString::number(i));
        takers << saved.value(QStringLiteral("TAKEN/%1").arg(i + 1)).toString();
    }
    QCOMPARE(takers.size(), kProcesses);
    QCOMPARE(saved.value("PORTS/COM5").toString(), QString("/dev/ttyUSB0"));
    QCOMPARE(saved.value("COMPORT/COM").toString(), QString("5"));
}

void TestStore::withoutRightsToldAndKept_data()
{
    QTest::addColumn<int>("fileMode");
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<QString>("reason");
    QTest::newRow("read-only file") << 0444 << 0755 << "нет прав на запись в файл";
    QTest::newRow("read-only folder") << 0644 << 0555 << "нет прав на запись в папку %1";
}

void TestStore::withoutRightsToldAndKept()
{
    QFETCH(int, fileMode);
    QFETCH(int, folderMode);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString folder = dir.filePath("config");
    QVERIFY(QDir().mkdir(folder));
    const QString file = SettingsStore::fileIn(folder);
    QVERIFY(writeFile(file, kKept));
    // Root may write anything: the save runs as an ordinary user owning both.
    if (runningAsRoot()) {
        QCOMPARE(::chown(QFile::encodeName(dir.path()).constData(), kOtherUser, kOtherUser), 0);
        QCOMPARE(::chown(QFile::encodeName(folder).constData(), kOtherUser, kOtherUser), 0);
        QCOMPARE(::chown(QFile::encodeName(file).constData(), kOtherUser, kOtherUser), 0);
    }
    QCOMPARE(::chmod(QFile::encodeName(file).constData(), mode_t(fileMode)), 0);
    QCOMPARE(::chmod(QFile::encodeName(folder).constData(), mode_t(folderMode)), 0);
    const auto writable = qScopeGuard([&] { ::chmod(QFile::encodeName(folder).constData(), 0755); });

    const ChildRun run = inChild(file, [](SettingsStore &store) {
        if (runningAsRoot() && (::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0))
            return 9;
        // Not saved, the value still holds for the run; the rest reads from the file.
        return (store.save({"NBLOCK", "BLOCK", "7"}) ? 1 : 0)
               + (readSetting(store, "COMPORT", "COM", "2") == "5" ? 0 : 2)
               + (readSetting(store, "NBLOCK", "BLOCK", "1") == "7" ? 0 : 4);
    });
    QCOMPARE(run.status, 0);
    QCOMPARE(fileBytes(file), kKept);
    QCOMPARE(run.problems, QStringList{saveFailure(file, reason.contains("%1") ? reason.arg(folder) : reason)});
}

void TestStore::fileOverOneMebibyteIsNeitherReadNorWritten()
{
    QTemporaryDir dir;
    const QString file = SettingsStore::fileIn(dir.path());
    QByteArray big = kKept;
    while (big.size() <= 1024 * 1024)
        big += "; " + QByteArray(1000, 'x') + "\n";
    QVERIFY(writeFile(file, big));
    const QByteArray hash = QCryptographicHash::hash(big, QCryptographicHash::Sha256);

    const ChildRun run = inChild(file, readFourSaveOne);
    QCOMPARE(run.status, 2);   // not saved; COM read as its default, not the 5 inside
    QCOMPARE(QCryptographicHash::hash(fileBytes(file), QCryptographicHash::Sha256), hash);
    const QString reason = QStringLiteral("файл занимает %1 байт, больше 1 МиБ: это не файл настроек").arg(big.size());
    QCOMPARE(run.problems, QStringList({readFailure(file, reason), saveFailure(file, reason)}));
}

void TestStore::byteOrderMarkReadsAsNothing()
{
    QTemporaryDir dir;
    const QString file = SettingsStore::fileIn(dir.path());
    QVERIFY(writeFile(file, "\xEF\xBB\xBF" + kKept));
    SettingsStore store(file);
    QCOMPARE(readSetting(store, "COMPORT", "COM", "2"), QString("5"));
    QVERIFY(store.save({"NBLOCK", "BLOCK", "7"}));
    QVERIFY(store.save({"NBLOCK", "BLOCK", "8"}));
    const QByteArray after = fileBytes(file);
    QVERIFY2(!after.contains("\xEF\xBB\xBF"), after.constData());
    QCOMPARE(readSetting(store, "COMPORT", "COM", "2"), QString("5"));
    QCOMPARE(readSetting(store, "NBLOCK", "BLOCK", "1"), QString("8"));
}

void TestStore::rootSavingKeepsTheOwner()
{
    if (!runningAsRoot())
        QSKIP("only root saves another user's file");
    QTemporaryDir dir;
    QCOMPARE(::chown(QFile::encodeName(dir.path()).constData(), kOtherUser, kOtherUser), 0);
    const auto ownerOf = [](const QString &path) {
        struct stat st;
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? qint64(st.st_uid) * 100000 + st.st_gid : -1;
    };
    const qint64 user = qint64(kOtherUser) * 100000 + kOtherUser;

    // An existing file, and one made in a folder made for it (a first save by sudo).
    const QString existing = SettingsStore::fileIn(dir.path());
    QVERIFY(writeFile(existing, kKept));
    QCOMPARE(::chown(QFile::encodeName(existing).constData(), kOtherUser, kOtherUser), 0);
    const QString fresh = SettingsStore::fileIn(dir.filePath("home/.config"));
    for (const QString &file : {existing, fresh}) {
        SettingsStore store(file);
        QStringList problems;
        store.setProblemHandler([&problems](const QString &text) { problems << text; });
        QVERIFY(store.save({"NBLOCK", "BLOCK", "7"}));
        QCOMPARE(problems, QStringList());
        QCOMPARE(ownerOf(file), user);
    }
    QCOMPARE(ownerOf(dir.filePath("home")), user);
    QCOMPARE(ownerOf(dir.filePath("home/.config")), user);
}

QTEST_GUILESS_MAIN(TestStore)
#include "tst_store.moc"
