// The three programs on the command line alike: help in Russian on standard
// output, a wrong argument told on standard error with the way to the help,
// and "--simulate SCENARIO" the same as "--simulate=SCENARIO".
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run
{
    int status = -1;   // -1: crashed or hung
    QString out;
    QString err;
};

Run run(const QString &program, const QStringList &args)
{
    QTemporaryDir home;
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The window program may save nothing, but keep it from the user's settings all the same.
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
    // A platform given to the test stays (under Wine: minimal, the one without a display there).
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(program, args);
    Run r;
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return r;
    }
    r.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    r.out = QString::fromUtf8(process.readAllStandardOutput());
    r.err = QString::fromUtf8(process.readAllStandardError());
    return r;
}

const QString kWindow = QStringLiteral(LINKPROBE_PATH);
const QString kCheck = QStringLiteral(LINKPROBE_CHECK_PATH);
const QString kSim = QStringLiteral(LINKPROBE_SIM_PATH);

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void helpOnStandardOutput_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("option");
        for (const QString &program : {kWindow, kCheck, kSim}) {
            const QString name = QFileInfo(program).fileName();
            QTest::addRow("%s --help", qPrintable(name)) << program << "--help";
            QTest::addRow("%s -h", qPrintable(name)) << program << "-h";
        }
    }
    void helpOnStandardOutput()
    {
        QFETCH(QString, program);
        QFETCH(QString, option);
        const Run r = run(program, {option});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.startsWith("Использование: " + QFileInfo(program).completeBaseName() + " "), qPrintable(r.out));
        QVERIFY2(r.out.contains("Код завершения"), qPrintable(r.out));
        QCOMPARE(r.err, QString());
    }

    void wrongArgumentOnStandardError_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("why");
        QTest::newRow("linkprobe, unknown option") << kWindow << QStringList{"--bogus"} << "неизвестный параметр \"--bogus\"";
        QTest::newRow("linkprobe, bad scenario") << kWindow << QStringList{"--simulate", "sunny"} << "неверный сценарий";
        QTest::newRow("linkprobe, extra word") << kWindow << QStringList{"--simulate=ok", "now"} << "лишний аргумент \"now\"";
        QTest::newRow("linkprobe-check, unknown option") << kCheck << QStringList{"--bogus", "link"}
                                                         << "неизвестный параметр \"--bogus\"";
        QTest::newRow("linkprobe-check, option takes no value") << kCheck << QStringList{"--simulate", "--instant=yes", "link"}
                                                                << "параметр --instant не принимает значения";
        QTest::newRow("linkprobe-sim, unknown option") << kSim << QStringList{"--bogus", "--port", "never-opened"}
                                                       << "неизвестный параметр \"--bogus\"";
    }
    void wrongArgumentOnStandardError()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, args);
        QFETCH(QString, why);
        const Run r = run(program, args);
        const QString name = QFileInfo(program).completeBaseName();
        QCOMPARE(r.status, 64);
        QCOMPARE(r.out, QString());
        QVERIFY2(r.err.startsWith(name + ": " + why), qPrintable(r.err));
        QVERIFY2(r.err.endsWith("Справка: " + name + " --help\n"), qPrintable(r.err));
    }

    void scenarioAfterSimulateWithOrWithoutEquals_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("attached") << QStringList{"--simulate=no-power", "--instant", "link"};
        QTest::newRow("separate") << QStringList{"--simulate", "no-power", "--instant", "link"};
        QTest::newRow("separate, after the command") << QStringList{"--instant", "link", "--simulate", "no-power"};
    }
    void scenarioAfterSimulateWithOrWithoutEquals()
    {
        QFETCH(QStringList, args);
        const Run r = run(kCheck, args);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.out.startsWith("ОШИБКА №2, возможные причины:\n"), qPrintable(r.out));
        QVERIFY2(r.err.contains("Имитация установки \"no-power\""), qPrintable(r.err));
    }

    void windowStartsOnAScenarioGivenEitherWay()
    {
        for (const QStringList &args : {QStringList{"--simulate", "noise", "--startup-report"},
                                        QStringList{"--simulate=noise", "--startup-report"}}) {
            const Run r = run(kWindow, args);
            QCOMPARE(r.status, 0);
            QVERIFY2(r.err.contains("window shown in"), qPrintable(r.err));
        }
    }

    // The window runs on the installation it was given: an unplugged one leaves its port closed.
    void windowTakesItsScenario_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("port");
        QTest::newRow("ok") << "ok" << " open\n";
        QTest::newRow("unplugged") << "unplugged" << " closed\n";
    }
    void windowTakesItsScenario()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, port);
        const Run r = run(kWindow, {"--simulate=" + scenario, "--startup-report"});
        QVERIFY2(r.status == 0 && r.err.contains(QRegularExpression("linkprobe: port \\S+" + port)), qPrintable(r.err));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
