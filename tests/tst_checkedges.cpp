// linkprobe-check at the edges of a run on a real (pseudo-terminal) port: how
// it ends when cut short (a standard output that cannot be written, a stop
// signal mid-check, after which the port must have the settings it had
// before), and what it says beside the verdict about a port held by another
// program or one that cannot tell its modem lines.
#include "expectedlines.h"
#include "ptyfixture.h"

#include <QSerialPort>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool sameTermios(const termios &a, const termios &b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag
           && std::equal(std::begin(a.c_cc), std::end(a.c_cc), std::begin(b.c_cc))
           && cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

// Two signals pending at once come in the kernel's order, not as sent: each is waited for.
bool noSignalPending(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    const QString text = status.open(QIODevice::ReadOnly) ? QString::fromLatin1(status.readAll()) : QString();
    return !QRegularExpression(QStringLiteral("(SigPnd|ShdPnd):\\s*0*[1-9a-f]")).match(text).hasMatch();
}

} // namespace

class TestCheckEdges : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;

    // linkprobe-check with settings of its own; not yet started.
    // linkprobe-check with these arguments, its settings in the test's own home.
    void prepare(QProcess &check, const QStringList &arguments,
                 const QString &program = QStringLiteral(LINKPROBE_CHECK_PATH)) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", m_home.path());
        env.insert("XDG_CONFIG_HOME", m_home.filePath("config"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        check.setProcessEnvironment(env);
        check.setProgram(program);
        check.setArguments(arguments);
    }

private slots:
    void failedOutputEndsWith74_data();
    void failedOutputEndsWith74();
    void closedOutputNeverBecomesThePort();
    void stopSignalGivesThePortBack_data();
    void stopSignalGivesThePortBack();
    void portHeldByAnotherProgramIsNamed();
    void unreadableModemLinesAreHinted();
};

void TestCheckEdges::failedOutputEndsWith74_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("output");   // "full": a full device; "closed": no descriptor 1 at all
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("reason");
    const QString check = QStringLiteral(LINKPROBE_CHECK_PATH);
    const QStringList link{"--simulate", "--instant", "link"};
    QTest::newRow("lines to a full device") << check << "full" << link << "нет места на диске";
    QTest::newRow("lines, output closed") << check << "closed" << link << "он был закрыт при запуске";
    QTest::newRow("help to a full device") << check << "full" << QStringList{"--help"} << "нет места на диске";
    QTest::newRow("the window's version, output closed") << QStringLiteral(LINKPROBE_PATH) << "closed"
                                                         << QStringList{"--version"} << "он был закрыт при запуске";
}

void TestCheckEdges::failedOutputEndsWith74()
{
    QFETCH(QString, program);
    QFETCH(QString, output);
    QFETCH(QStringList, args);
    QFETCH(QString, reason);
    QProcess check;
    prepare(check, args, program);
    // The system's full device, made afresh in the test's own folder.
    const QString full = m_home.filePath("full");
    if (output == "full" && !QFileInfo::exists(full))
        QCOMPARE(::mknod(QFile::encodeName(full).constData(), S_IFCHR | 0666, makedev(1, 7)), 0);
    if (output == "full")
        check.setStandardOutputFile(full);
    else
        check.setChildProcessModifier([] { ::close(STDOUT_FILENO); });
    check.start();
    QVERIFY(check.waitForFinished(10000));
    QCOMPARE(check.exitStatus(), QProcess::NormalExit);
    QCOMPARE(check.exitCode(), 74);
    const QString err = QString::fromUtf8(check.readAllStandardError());
    QCOMPARE(err.count(QFileInfo(program).completeBaseName() + ": не удалось записать на стандартный вывод: " + reason + "\n"), 1);
    // A check's closing line names the status the program ends with.
    QCOMPARE(err.count("код завершения 74\n"), args.contains("link") ? 1 : 0);
    QCOMPARE(err.count("код завершения"), err.count("код завершения 74\n"));
}

// With standard output and standard error closed, the files opened next
// would take their descriptors; were the port one of them, the lines of the
// log or the messages would go down the serial line.
void TestCheckEdges::closedOutputNeverBecomesThePort()
{
    TempStore store;
    PtyFixture line(*store);
    QVERIFY2(line.plug(), qPrintable(line.errorString()));
    QProcess check;
    prepare(check, {"--port", line.devicePath(), "link"});
    check.setChildProcessModifier([] {
        ::close(STDOUT_FILENO);
        ::close(STDERR_FILENO);
    });
    check.start();
    // The fixture hears the line in this event loop while the check runs.
    QVERIFY(PtyFixture::waitFor([&] { return check.state() == QProcess::NotRunning; }, 10000));
    QCOMPARE(check.exitCode(), 74);
    // A pseudo-terminal shows no DSR: the link test ends at error 1 and sends
    // nothing, so anything on the line would be the log's lines.
    QCOMPARE(line.written(), QByteArray());
}

void TestCheckEdges::stopSignalGivesThePortBack_data()
{
    QTest::addColumn<QList<int>>("sent");   // one after the other; the first one names the exit
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("status");
    QTest::newRow("SIGINT") << QList<int>{SIGINT} << "link" << "SIGINT" << 130;
    QTest::newRow("SIGTERM") << QList<int>{SIGTERM} << "link" << "SIGTERM" << 143;
    QTest::newRow("SIGHUP") << QList<int>{SIGHUP} << "link" << "SIGHUP" << 129;
    QTest::newRow("scan, SIGINT twice") << QList<int>{SIGINT, SIGINT} << "scan" << "SIGINT" << 130;
    QTest::newRow("scan, SIGINT then SIGTERM") << QList<int>{SIGINT, SIGTERM} << "scan" << "SIGINT" << 130;
    QTest::newRow("SIGTERM, SIGINT, SIGHUP") << QList<int>{SIGTERM, SIGINT, SIGHUP} << "link" << "SIGTERM" << 143;
}

void TestCheckEdges::stopSignalGivesThePortBack()
{
    QFETCH(QList<int>, sent);
    QFETCH(QString, command);
    QFETCH(QString, name);
    QFETCH(int, status);
    TempStore store;
    PtyFixture line(*store);
    QVERIFY2(line.plug(), qPrintable(line.errorString()));
    // The device as another program left it: 9600 baud, a terminal's line discipline.
    termios before {};
    QCOMPARE(tcgetattr(line.slaveFd(), &before), 0);
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_oflag |= OPOST | ONLCR;
    cfsetspeed(&before, B9600);
    QCOMPARE(tcsetattr(line.slaveFd(), TCSANOW, &before), 0);
    QCOMPARE(tcgetattr(line.slaveFd(), &before), 0);

    QProcess check;
    prepare(check, {"--port", line.devicePath(), command});
    check.start();
    // Opened: the device is at the check's 4800 baud, raw; the link test now waits a second for the lines.
    termios during {};
    QVERIFY(PtyFixture::waitFor([&] {
        return tcgetattr(line.slaveFd(), &during) == 0 && cfgetospeed(&during) == B4800;
    }, 5000));
    QVERIFY(!sameTermios(during, before));
    const pid_t pid = pid_t(check.processId());
    for (int i = 0; i < sent.size() && check.state() != QProcess::NotRunning; ++i) {
        ::kill(pid, sent.at(i));
        QVERIFY(PtyFixture::waitFor([&] { return noSignalPending(pid); }, 1000));
    }

    QVERIFY(PtyFixture::waitFor([&] { return check.state() == QProcess::NotRunning; }, 3000));
    QCOMPARE(check.exitStatus(), QProcess::NormalExit);
    QCOMPARE(check.exitCode(), status);
    termios after {};
    QCOMPARE(tcgetattr(line.slaveFd(), &after), 0);
    QVERIFY(sameTermios(after, before));
    const QString err = QString::fromUtf8(check.readAllStandardError());
    QVERIFY2(err.contains("Проверка прервана сигналом " + name + ", порт закрыт\n"), qPrintable(err));
    // What the check would have said without its port is no verdict.
    QCOMPARE(QString::fromUtf8(check.readAllStandardOutput()), QString());
}

// Qt says "Permission error while locking the device", which reads like a
// matter of rights: the technician is told who has the port instead.
void TestCheckEdges::portHeldByAnotherProgramIsNamed()
{
    TempStore store;
    PtyFixture line(*store);
    QVERIFY2(line.plug(), qPrintable(line.errorString()));
    QSerialPort holder(line.devicePath());
    QVERIFY2(holder.open(QIODevice::ReadWrite), qPrintable(holder.errorString()));

    QProcess check;
    prepare(check, {"--port", line.devicePath(), "link"});
    check.start();
    QVERIFY(check.waitForFinished(10000));
    QCOMPARE(check.exitCode(), 6);
    QCOMPARE(QString::fromUtf8(check.readAllStandardOutput()), QString("Ошибка открытия порта!!!\n"));
    const QString err = QString::fromUtf8(check.readAllStandardError());
    const QString named = QStringLiteral("Порт %1 не открылся: порт занят другой программой: %2 (процесс %3)\n")
                              .arg(line.devicePath(), QCoreApplication::applicationName().left(15))
                              .arg(QCoreApplication::applicationPid());
    QVERIFY2(err.contains(named), qPrintable(err));
}

// A pseudo-terminal has no modem lines to read: DSR reads as off, error 1 is
// the verdict as ever, and a hint says why it may not be the cable.
void TestCheckEdges::unreadableModemLinesAreHinted()
{
    TempStore store;
    PtyFixture line(*store);
    QVERIFY2(line.plug(), qPrintable(line.errorString()));
    QProcess check;
    prepare(check, {"--port", line.devicePath(), "link"});
    check.start();
    QVERIFY(PtyFixture::waitFor([&] { return check.state() == QProcess::NotRunning; }, 10000));
    QCOMPARE(check.exitCode(), 1);
    QCOMPARE(QString::fromUtf8(check.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts), kError1);
    const QString err = QString::fromUtf8(check.readAllStandardError());
    QCOMPARE(err.count(QStringLiteral("Порт %1 не сообщает состояние линий DSR/CTS").arg(line.devicePath())), 1);
}

QTEST_GUILESS_MAIN(TestCheckEdges)
#include "tst_checkedges.moc"
