// linkprobe-sim, the bench rig, on a pseudo-terminal: the test plays the PC on
// the master and the rig answers on the slave. A pseudo-terminal has no modem
// lines, so the rig's DTR and RTS (the PC's DSR and CTS) cannot be seen here;
// the rig says so in its log and answers all the same.
#include "support/ptyfixture.h"

#include <QProcess>
#include <QTest>

#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

#ifdef LINKPROBE_SIM_PATH
const QString kRig = QStringLiteral(LINKPROBE_SIM_PATH);
#else
const QString kRig;
#endif
const QString kNoSuchPort = QStringLiteral("/dev/linkprobe-no-such-port");

// The rig on a fresh pseudo-terminal pair, and the PC's end of it.
struct Bench
{
    TempStore store;
    PtyFixture pc {*store};
    QProcess rig;
    QByteArray err;

    Bench()
    {
        pc.setAnswering(false);
        QObject::connect(&rig, &QProcess::readyReadStandardError, &rig, [this] { err += rig.readAllStandardError(); });
    }
    ~Bench()
    {
        if (rig.state() != QProcess::NotRunning) {
            rig.kill();
            rig.waitForFinished(2000);
        }
    }
    // Starts the rig on the slave; true once it says it is listening.
    bool start(const QStringList &args = {})
    {
        if (!pc.plug())
            return false;
        // The rig must not inherit the master: holding it, it would never see the line go away.
        rig.setChildProcessModifier([] {
            for (int fd = 3; fd < 1024; ++fd) {
                unsigned int ptyNumber = 0;
                if (::ioctl(fd, TIOCGPTN, &ptyNumber) == 0)
                    ::close(fd);
            }
        });
        rig.start(kRig, QStringList {QStringLiteral("--port"), pc.devicePath()} + args);
        PtyFixture::waitFor([this] { return err.contains("Ctrl+C") || rig.state() == QProcess::NotRunning; }, 5000);
        return rig.state() == QProcess::Running && err.contains("Ctrl+C");
    }
    QStringList log()
    {
        err += rig.readAllStandardError();
        QStringList lines;
        for (const QByteArray &line : err.split('\n'))
            lines << QString::fromUtf8(line).trimmed();
        return lines;
    }
    // True when the lines appear in this order, others between them allowed.
    bool logged(const QStringList &expected)
    {
        qsizetype next = 0;
        for (const QString &line : log()) {
            if (next < expected.size() && line == expected.at(next))
                ++next;
        }
        return next == expected.size();
    }
};

// A run of the rig that ends by itself: its exit code and everything it said.
int runRig(const QStringList &args, QString *err)
{
    QProcess rig;
    rig.start(kRig, args);
    if (!rig.waitForFinished(5000)) {
        rig.kill();
        rig.waitForFinished(2000);
        return -1;
    }
    *err = QString::fromUtf8(rig.readAllStandardError());
    return rig.exitStatus() == QProcess::NormalExit ? rig.exitCode() : -1;
}

} // namespace

class SimRig : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (kRig.isEmpty())
            QSKIP("linkprobe-sim is not built");
    }

    void answersQueries_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QByteArrayList>("sent");
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<QStringList>("log");

        QTest::newRow("БСУ answers its identity") << "ok" << QByteArrayList {"#0002\r\n"} << QByteArray("@00BSU\r\n")
                                                  << QStringList {"<- #0002", "-> @00BSU"};
        QTest::newRow("block 10 by its hex address") << "ok" << QByteArrayList {"#0A02\r\n"}
                                                     << QByteArray("@0AT+23.0\r\n")
                                                     << QStringList {"<- #0A02", "-> @0AT+23.0"};
        QTest::newRow("absent block stays silent") << "blocks=1-4" << QByteArrayList {"#0502\r\n"} << QByteArray()
                                                   << QStringList {"<- #0502", "(нет ответа)"};
        QTest::newRow("unpowered БС: nothing answers") << "no-power" << QByteArrayList {"#0002\r\n"} << QByteArray()
                                                       << QStringList {"<- #0002", "(нет ответа)"};
        QTest::newRow("unpowered БСУ: the query comes back") << "bsu-off" << QByteArrayList {"#0002\r\n"}
                                                             << QByteArray("#0002\r\n")
                                                             << QStringList {"<- #0002", "-> #0002"};
        QTest::newRow("query in two pieces is one line") << "ok" << QByteArrayList {"#00", "02\r\n"}
                                                         << QByteArray("@00BSU\r\n")
                                                         << QStringList {"<- #0002", "-> @00BSU"};
        QTest::newRow("two queries at once, a lone CR ends a line")
            << "ok" << QByteArrayList {"#0002\r#0102\n"} << QByteArray("@00BSU\r\n@01T+18.5\r\n")
            << QStringList {"<- #0002", "<- #0102", "-> @00BSU", "-> @01T+18.5"};
        QTest::newRow("noisy line: control bytes around the reply and after it")
            << "noise" << QByteArrayList {"#0002\r\n"} << QByteArray("\x07\x1B@00BSU\r\n\0\x1B\0\x07", 14)
            << QStringList {"<- #0002", "-> \\x07\\x1B@00BSU\\x0D\\x0A\\x00", "-> \\x1B\\x00\\x07 (помехи)"};
    }

    void answersQueries()
    {
        QFETCH(QString, scenario);
        QFETCH(QByteArrayList, sent);
        QFETCH(QByteArray, received);
        QFETCH(QStringList, log);

        Bench bench;
        QVERIFY2(bench.start({scenario}), bench.err.constData());
        for (const QByteArray &piece : sent) {
            bench.pc.send(piece);
            PtyFixture::waitFor([] { return false; }, 100);
        }
        QVERIFY2(PtyFixture::waitFor([&] { return bench.logged(log) && bench.pc.written().size() >= received.size(); },
                                     3000),
                 bench.err.constData());
        PtyFixture::waitFor([] { return false; }, 150);   // nothing more may follow
        QCOMPARE(bench.pc.written(), received);

        bench.rig.terminate();
        QVERIFY(bench.rig.waitForFinished(2000));
        QCOMPARE(bench.rig.exitCode(), 0);
    }

    void badArguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");

        // A parse that wrongly went through would end in 1 on the missing port, not in 64.
        QTest::newRow("no port") << QStringList {} << "не указан порт";
        QTest::newRow("--port without a device") << QStringList {"--port"} << "после --port нужно значение";
        QTest::newRow("baud not a number") << QStringList {"--port", kNoSuchPort, "--baud", "fast"}
                                           << "неверная скорость \"fast\"";
        QTest::newRow("baud zero") << QStringList {"--port=" + kNoSuchPort, "--baud=0"} << "неверная скорость \"0\"";
        QTest::newRow("unknown option") << QStringList {"--port", kNoSuchPort, "--parity", "odd"}
                                        << "неизвестный параметр \"--parity\"";
        QTest::newRow("block out of range") << QStringList {"--port", kNoSuchPort, "blocks=40"} << "неверный сценарий";
        QTest::newRow("two scenarios") << QStringList {"--port", kNoSuchPort, "ok", "no-power"}
                                       << "лишний аргумент \"no-power\"";
        QTest::newRow("unplugged cannot be played") << QStringList {"--port", kNoSuchPort, "unplugged"}
                                                    << "сценарий unplugged здесь не имитируется";
    }

    void badArguments()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        QString err;
        QCOMPARE(runRig(args, &err), 64);
        QVERIFY2(err.contains(message), qPrintable(err));
    }

    void portDoesNotOpen_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("message");
        QTest::newRow("no such device") << kNoSuchPort << "Устройства " + kNoSuchPort + " нет";
        QTest::newRow("not a serial port") << "/dev/null" << "порт /dev/null не открылся";
    }

    void portDoesNotOpen()
    {
        QFETCH(QString, device);
        QFETCH(QString, message);
        QString err;
        QCOMPARE(runRig({"--port", device}, &err), 1);
        QVERIFY2(err.contains(message), qPrintable(err));
    }

    void portInUseByAnotherRig()
    {
        Bench bench;
        QVERIFY2(bench.start(), bench.err.constData());
        QString err;
        QCOMPARE(runRig({"--port", bench.pc.devicePath()}, &err), 1);
        QVERIFY2(err.contains("занят другой программой"), qPrintable(err));

        // The first rig still has the port and answers.
        bench.pc.send("#0002\r\n");
        QVERIFY(PtyFixture::waitFor([&] { return bench.pc.written() == "@00BSU\r\n"; }, 3000));
    }

    void stopsCleanlyOnSignal_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT (Ctrl+C)") << int(SIGINT);
        QTest::newRow("SIGHUP (terminal closed)") << int(SIGHUP);
    }

    void stopsCleanlyOnSignal()
    {
        QFETCH(int, signal);
        Bench bench;
        QVERIFY2(bench.start(), bench.err.constData());
        QElapsedTimer took;
        took.start();
        QCOMPARE(::kill(pid_t(bench.rig.processId()), signal), 0);
        QVERIFY(bench.rig.waitForFinished(2000));
        QVERIFY2(took.elapsed() < 1000, qPrintable(QString::number(took.elapsed())));
        QCOMPARE(bench.rig.exitStatus(), QProcess::NormalExit);
        QCOMPARE(bench.rig.exitCode(), 0);
        QVERIFY2(bench.log().join('\n').contains("порт закрыт"), bench.err.constData());
    }

    void lostPortEndsTheRig()
    {
        Bench bench;
        QVERIFY2(bench.start(), bench.err.constData());
        bench.pc.unplug();
        QVERIFY2(bench.rig.waitForFinished(3000), qPrintable(bench.log().join('\n')));
        QCOMPARE(bench.rig.exitCode(), 1);
        QVERIFY2(bench.log().join('\n').contains("потерян"), bench.err.constData());
    }
};

QTEST_GUILESS_MAIN(SimRig)
#include "tst_simrig.moc"
