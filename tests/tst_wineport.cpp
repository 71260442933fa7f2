// linkprobe-check built for Windows, run under Wine on a COM port that Wine
// maps to a pseudo-terminal: the fixture on the master plays the installation,
// so the Windows program's real port (the Win32 communications calls, through
// Wine to the device) carries the query out and the reply back.
//
// Wine reads a pseudo-terminal's modem lines with TIOCMGET, which Linux
// refuses for one; the modem line shim, preloaded into Wine itself, gives them
// from a state file. The DTR and RTS the program sets stay inside Wine's
// process and are not seen here.
//
// Needs a Windows build: the test run's Windows stage names it in
// LINKPROBE_WINDOWS_BUILD (the folder with wine-run and app/linkprobe-check.exe).
#include "support/expectedlines.h"
#include "support/modemshim.h"
#include "support/ptyfixture.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>

#include <sys/ioctl.h>

namespace {

struct Run
{
    int status = -1;   // -1: crashed, or still running after the deadline
    QStringList lines;
    QString err;
    qint64 ms = 0;
};

} // namespace

class tst_WinePort : public QObject
{
    Q_OBJECT

    QString m_build;
    QTemporaryDir m_lines;

    QString wineRun() const { return m_build + QStringLiteral("/wine-run"); }

    // Runs wine-run with the arguments while the fixture answers from this event loop.
    Run run(const QStringList &args, int modemLines)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
#ifdef MODEMSHIM_PATH
        const QString state = m_lines.filePath(QStringLiteral("lines"));
        ModemShim::writeStateFile(state, modemLines);
        env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(MODEMSHIM_PATH));
        env.insert(QStringLiteral("MODEMSHIM_STATE"), state);
#else
        Q_UNUSED(modemLines);
#endif
        QProcess process;
        process.setProcessEnvironment(env);
        QEventLoop loop;
        connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
        connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        QElapsedTimer wall;
        wall.start();
        process.start(wineRun(), args);
        loop.exec();
        Run r;
        r.ms = wall.elapsed();
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
            return r;
        }
        if (process.exitStatus() == QProcess::NormalExit)
            r.status = process.exitCode();
        r.lines = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        r.err = QString::fromUtf8(process.readAllStandardError());
        return r;
    }

    // Makes COMn of the build's Wine prefix the device. Wine reads its port
    // map when its server starts and keeps it in the prefix's dosdevices
    // folder, which a running server follows at every opening: the map is
    // written for the next start and the link for now.
    bool mapPort(int n, const QString &device)
    {
        QProcess reg;
        reg.start(wineRun(), {QStringLiteral("reg"), QStringLiteral("add"), QStringLiteral("HKLM\\Software\\Wine\\Ports"),
                              QStringLiteral("/v"), QStringLiteral("COM%1").arg(n), QStringLiteral("/t"),
                              QStringLiteral("REG_SZ"), QStringLiteral("/d"), device, QStringLiteral("/f")});
        if (!reg.waitForFinished(30000) || reg.exitStatus() != QProcess::NormalExit || reg.exitCode() != 0)
            return false;
        const QString link = m_build + QStringLiteral("/wineprefix/dosdevices/com%1").arg(n);
        QFile::remove(link);
        return QFile::link(device, link);
    }

    bool restartWine()
    {
        QProcess restart;
        restart.start(wineRun(), {QStringLiteral("--restart")});
        return restart.waitForFinished(30000) && restart.exitStatus() == QProcess::NormalExit
            && restart.exitCode() == 0;
    }

private slots:
    void initTestCase()
    {
        m_build = qEnvironmentVariable("LINKPROBE_WINDOWS_BUILD");
        if (m_build.isEmpty())
            QSKIP("no Windows build named: the Windows stage of ./build.sh test runs this test");
        QVERIFY2(QFileInfo(wineRun()).isExecutable(), qPrintable(wineRun()));
        QVERIFY2(QFile::exists(m_build + QStringLiteral("/app/linkprobe-check.exe")), qPrintable(m_build));
        QVERIFY(m_lines.isValid());
#ifndef MODEMSHIM_PATH
        QSKIP("the modem line shim is not built in this tree");
#endif
    }

    void checkOverTheMappedPort_data()
    {
        QTest::addColumn<int>("comPort");
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<int>("modemLines");
        QTest::addColumn<bool>("answering");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("written");

        const int cableAndPower = TIOCM_DSR | TIOCM_CTS;
        QTest::newRow("COM5, all well") << 5 << QStringList{"link"} << cableAndPower << true << kLinkGood << 0
                                        << QByteArray("#0002\r\n");
        // Above COM9 the port is opened in the device namespace, \\.\COM12.
        QTest::newRow("COM12, block 10") << 12 << QStringList{"block", "10"} << cableAndPower << true
                                         << blockLines(10, "0A", "@0AT+23.0", true) << 0
                                         << QByteArray("#0002\r\n#0A02\r\n");
        // The lines can be read, and nothing comes back: this opening once waited
        // for a first byte that never came.
        QTest::newRow("COM5, nothing answers") << 5 << QStringList{"link"} << cableAndPower << false
                                               << QStringList{kBsFound, "Принято = []"} + kError3 << 3
                                               << QByteArray("#0002\r\n");
        QTest::newRow("COM5, no cable") << 5 << QStringList{"link"} << 0 << true << kError1 << 1 << QByteArray();
        QTest::newRow("COM5, no power") << 5 << QStringList{"link"} << int(TIOCM_DSR) << true << kError2 << 2
                                        << QByteArray();
    }

    void checkOverTheMappedPort()
    {
        QFETCH(int, comPort);
        QFETCH(QStringList, command);
        QFETCH(int, modemLines);
        QFETCH(bool, answering);
        QFETCH(QStringList, lines);
        QFETCH(int, status);
        QFETCH(QByteArray, written);

        TempStore store;
        PtyFixture line(*store);
        QVERIFY2(line.plug(), qPrintable(line.errorString()));
        line.setAnswering(answering);
        QVERIFY(mapPort(comPort, line.devicePath()));

        const Run r = run(QStringList{m_build + QStringLiteral("/app/linkprobe-check.exe"), QStringLiteral("--port"),
                                      QString::number(comPort)} + command,
                          modemLines);
        qInfo("COM%d on %s: %lld ms with Wine's start, status %d", comPort, qPrintable(line.devicePath()), r.ms,
              r.status);
        QVERIFY2(r.status >= 0, "linkprobe-check.exe did not finish within 30 s");
        QVERIFY2(r.lines == lines, qPrintable(r.lines.join(QLatin1Char('\n')) + QLatin1Char('\n') + r.err));
        QCOMPARE(r.status, status);
        QCOMPARE(line.written(), written);
        const QString device = comPort > 9 ? QStringLiteral("\\\\.\\COM%1").arg(comPort) : QStringLiteral("COM%1").arg(comPort);
        QVERIFY2(r.err.contains(QStringLiteral("(%1)").arg(device)), qPrintable(r.err));
    }

    // The system's list of ports (QSerialPortInfo) and the search on a named
    // port see Wine's COM ports as they see Windows' own.
    void portListAndSearch()
    {
        TempStore store;
        PtyFixture line(*store);
        QVERIFY2(line.plug(), qPrintable(line.errorString()));
        QVERIFY(mapPort(5, line.devicePath()));
        // The list is the one Wine's server made when it started: a port
        // mapped since is listed once the server starts again.
        QVERIFY(restartWine());
        const QString check = m_build + QStringLiteral("/app/linkprobe-check.exe");

        const Run listed = run({check, QStringLiteral("ports")}, 0);
        QCOMPARE(listed.status, 0);
        QVERIFY2(listed.lines.contains(QStringLiteral("COM5: \\\\.\\COM5; свободен")),
                 qPrintable(listed.lines.join(QLatin1Char('\n'))));

        const Run found = run({check, QStringLiteral("--port"), QStringLiteral("5"), QStringLiteral("--baud"),
                               QStringLiteral("4800"), QStringLiteral("find")},
                              TIOCM_DSR | TIOCM_CTS);
        QCOMPARE(found.status, 0);
        QVERIFY2(found.lines.contains(QStringLiteral("Установка найдена: COM5, 4800 бод")),
                 qPrintable(found.lines.join(QLatin1Char('\n')) + QLatin1Char('\n') + found.err));
        QVERIFY(line.written().startsWith("#0002\r\n"));
    }

    // linkprobe-sim.exe, the bench rig, on a mapped port: the fixture plays
    // the PC and sends the БСУ's query; the rig answers it.
    void simulatorAnswersOnTheMappedPort()
    {
        TempStore store;
        PtyFixture pc(*store);
        QVERIFY2(pc.plug(), qPrintable(pc.errorString()));
        pc.setAnswering(false);
        QVERIFY(mapPort(6, pc.devicePath()));

        QProcess rig;
        QByteArray err;
        connect(&rig, &QProcess::readyReadStandardError, &rig, [&] { err += rig.readAllStandardError(); });
        rig.start(wineRun(), {m_build + QStringLiteral("/app/linkprobe-sim.exe"), QStringLiteral("--port"),
                              QStringLiteral("COM6")});
        const auto stop = qScopeGuard([&] {
            rig.kill();
            rig.waitForFinished(5000);
        });
        QVERIFY2(PtyFixture::waitFor([&] { return err.contains("Ctrl+C") || rig.state() == QProcess::NotRunning; },
                                     30000)
                     && rig.state() == QProcess::Running,
                 err.constData());
        pc.send("#0002\r\n");
        QVERIFY2(PtyFixture::waitFor([&] { return pc.written().contains("@00BSU\r\n"); }, 5000),
                 (pc.written() + "\n" + err).constData());
        QVERIFY2(err.contains("<- #0002"), err.constData());
    }

    // A port that is not there fails at its opening, at once, as on Linux.
    void missingPortFailsAtOnce()
    {
        const Run r = run({m_build + QStringLiteral("/app/linkprobe-check.exe"), QStringLiteral("--port"),
                           QStringLiteral("231"), QStringLiteral("link")},
                          TIOCM_DSR | TIOCM_CTS);
        qInfo("missing COM231: %lld ms with Wine's start", r.ms);
        QVERIFY2(r.status >= 0, "linkprobe-check.exe did not finish within 30 s");
        QCOMPARE(r.lines, QStringList{QStringLiteral("Ошибка открытия порта!!!")});
        QCOMPARE(r.status, 6);
        QVERIFY2(r.err.contains(QStringLiteral("Проверка заняла 0 мс")), qPrintable(r.err));
    }
};

QTEST_GUILESS_MAIN(tst_WinePort)
#include "tst_wineport.moc"
