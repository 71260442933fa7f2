// The adapter pulled out: the pseudo-terminal's master closes under the real
// serial port layer, between checks or in the middle of one. The port must
// close at the first error, tell it once, never spin, and work again once the
// device is back and opened anew.
#include "link/exchange.h"
#include "link/settings.h"
#include "support/expectedlines.h"
#include "support/modemshim.h"
#include "support/ptyfixture.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QTimer>
#include <QTest>

#include <sys/ioctl.h>
#include <sys/resource.h>

namespace {

const QString kPortError = QStringLiteral("Ошибка открытия порта!!!");

// CPU time this process has used, user and system, in milliseconds.
qint64 cpuMs()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

// CPU and wall time from the moment the device went away.
struct SinceUnplug
{
    qint64 cpuAtUnplug = -1;
    QElapsedTimer wall;
    void mark()
    {
        cpuAtUnplug = cpuMs();
        wall.start();
    }
    bool marked() const { return cpuAtUnplug >= 0; }
};

} // namespace

class tst_Unplug : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void deviceGoesAway_data();
    void deviceGoesAway();
    void replugAndCheckAgain();
    void checkProgramPulledMidScan();
};

void tst_Unplug::init()
{
    if (!ModemShim::loaded())
        QFAIL("libmodemshim.so is not preloaded: the checks need DSR and CTS on the pseudo-terminal");
}

void tst_Unplug::deviceGoesAway_data()
{
    QTest::addColumn<QString>("when");
    QTest::addColumn<bool>("checkRuns");

    QTest::newRow("between checks") << "idle" << false;
    // Gone, and the first to touch the port is the next exchange, before any
    // event has been handled.
    QTest::newRow("right before an exchange") << "exchange" << false;
    QTest::newRow("right before a check") << "check" << true;
    QTest::newRow("while the lines settle") << "line wait" << true;
    QTest::newRow("while the reply is awaited") << "query" << true;
}

void tst_Unplug::deviceGoesAway()
{
    QFETCH(QString, when);
    QFETCH(bool, checkRuns);

    PtyBench b;
    QVERIFY2(b.open(), qPrintable(b.line.errorString() + b.port.openError()));
    b.line.setScenario(Scenario());
    SinceUnplug since;
    const auto pull = [&] {
        since.mark();
        b.line.unplug();
    };

    if (when == QLatin1String("idle")) {
        pull();
    } else if (when == QLatin1String("exchange")) {
        pull();
        QCOMPARE(sendCommand(b.port, b.wait, QStringLiteral("#0002"), 100), QString());
    } else if (when == QLatin1String("check")) {
        pull();
    } else if (when == QLatin1String("line wait")) {
        QTimer::singleShot(300, &b.port, pull);
    } else {
        // The query reaches the БС, and the cable comes out instead of the answer.
        b.line.onLine = [&](const QByteArray &) {
            pull();
            return true;
        };
    }
    if (checkRuns) {
        const LinkResult link = b.tests.linkTest(ReplyEnd::FullWait);
        QVERIFY(since.marked());
        QCOMPARE(link.verdict, int(LineTests::PortLost));
        QVERIFY(b.panel.linkTestEnabled);
        QVERIFY(!b.panel.lines.isEmpty());
        qInfo() << "the check in progress wrote:" << b.panel.lines;
    }

    // A second of the event loop from the unplug on: the port must not spin
    // on a device that keeps reporting errors.
    const qint64 left = 1000 - since.wall.elapsed();
    if (left > 0)
        b.wait.wait(qint32(left));
    const qint64 cpu = cpuMs() - since.cpuAtUnplug;
    const qint64 wall = since.wall.elapsed();
    QVERIFY2(cpu * 20 < wall, qPrintable(QStringLiteral("%1 ms CPU in %2 ms after the unplug").arg(cpu).arg(wall)));

    QCOMPARE(b.lost, 1);
    QVERIFY(!b.port.isOpen());
    QCOMPARE(b.port.bytesWaiting(), qsizetype(0));
    QVERIFY(b.port.readAll().isEmpty());
    b.port.write("#0002\r\n");
    QVERIFY(!b.port.dsr());
    QVERIFY(!b.port.cts());
    b.port.setDtr(true);
    QVERIFY(!b.port.isOpen());
    QCOMPARE(b.lost, 1);

    // The next check finds the port closed and says so, at once.
    b.panel.lines.clear();
    QElapsedTimer next;
    next.start();
    b.tests.linkTest(ReplyEnd::FullWait);
    QCOMPARE(b.panel.lines, QStringList {kPortError});
    b.panel.lines.clear();
    b.tests.blockCheck(1, ReplyEnd::FullWait);
    QCOMPARE(b.panel.lines, QStringList {kPortError});
    QVERIFY(next.elapsed() < 500);
    QCOMPARE(b.lost, 1);
}

void tst_Unplug::replugAndCheckAgain()
{
    PtyBench b;
    QVERIFY2(b.open(), qPrintable(b.line.errorString() + b.port.openError()));
    b.line.setScenario(Scenario());
    const QString before = b.line.devicePath();
    b.line.unplug();
    QVERIFY(PtyFixture::waitFor([&] { return !b.port.isOpen(); }, 2000));
    b.tests.linkTest(ReplyEnd::FullWait);
    QCOMPARE(b.panel.lines, QStringList {kPortError});

    // The adapter comes back under another name; the store maps COM1 to it.
    QVERIFY2(b.line.plug(), qPrintable(b.line.errorString()));
    QCOMPARE(Settings::load(*b.store).deviceFor(1), b.line.devicePath());
    qInfo() << "device before and after:" << before << b.line.devicePath();
    QVERIFY2(b.session.openPort(Settings::load(*b.store)), qPrintable(b.port.openError()));
    QVERIFY(b.port.isOpen());

    b.panel.lines.clear();
    const LinkResult link = b.tests.linkTest(ReplyEnd::FullWait);
    QVERIFY2(b.panel.lines == kLinkGood, qPrintable(b.panel.lines.join(QLatin1Char('\n'))));
    QCOMPARE(link.verdict, int(LineTests::LinkGood));
    QCOMPARE(b.line.written(), QByteArray("#0002\r\n"));
    QCOMPARE(b.lost, 1);
}

// linkprobe-check's scan, its adapter pulled while block 3 is asked: no
// verdict, exit 6; blocks 1 and 2 keep their readings.
void tst_Unplug::checkProgramPulledMidScan()
{
    PtyBench b;
    QVERIFY2(b.line.plug(), qPrintable(b.line.errorString()));
    b.line.setScenario(Scenario());
    b.line.onLine = [&](const QByteArray &line) {
        if (line == "#0302")
            QTimer::singleShot(0, &b.port, [&] { b.line.unplug(); });
        return line == "#0302";
    };
    QTemporaryDir home;
    const QString state = home.filePath("modemlines");
    QVERIFY(ModemShim::writeStateFile(state, TIOCM_DSR | TIOCM_CTS));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MODEMSHIM_STATE", state);
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    QProcess check;
    check.setProcessEnvironment(env);
    check.start(LINKPROBE_CHECK_PATH, {"--port", b.line.devicePath(), "--json", "scan"});
    // The fixture answers from this event loop while the check runs.
    QVERIFY(PtyFixture::waitFor([&] { return check.state() == QProcess::NotRunning; }, 15000));
    QVERIFY2(check.exitStatus() == QProcess::NormalExit && check.exitCode() == 6, check.readAllStandardError());
    const QJsonObject report = QJsonDocument::fromJson(check.readAllStandardOutput()).object();
    QCOMPARE(report.value("void").toBool(), true);
    const QJsonObject round = report.value("rounds").toArray().at(0).toObject();
    QCOMPARE(round.value("portLost").toBool(), true);
    QCOMPARE(round.value("blocks").toArray().size(), 2);
}

int main(int argc, char **argv)
{
#ifdef MODEMSHIM_PATH
    ModemShim::preload(MODEMSHIM_PATH, argv);
#endif
    QCoreApplication app(argc, argv);
    tst_Unplug test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_unplug.moc"
