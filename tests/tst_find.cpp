// linkprobe-check find over pseudo-terminals: each fixture plays a port the
// technician names; only one holds the installation, and it answers only at
// the rate it runs at. The program never probes this machine's own ports here.
#include "link/settingsstore.h"
#include "link/systemports.h"
#include "support/modemshim.h"
#include "support/ptyfixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/ioctl.h>

namespace {

struct Run
{
    int status = -1;
    QStringList lines;   // standard output
    QString err;
};

} // namespace

class tst_Find : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void foundOnTheSecondAtItsRate();
    void nothingFound();
    void foundButNotSavedEndsWith73();

private:
    Run find(const QStringList &args, int modemLines);

    QTemporaryDir m_home;
    TempStore m_fixtureStore;   // the fixtures map their own COM1 here, away from the program's
};

void tst_Find::init()
{
    if (!ModemShim::loaded())
        QFAIL("libmodemshim.so is not preloaded: the search needs DSR and CTS on the pseudo-terminals");
    QFile::remove(SettingsStore().fileName());
}

Run tst_Find::find(const QStringList &args, int modemLines)
{
    Run run;
    const QString state = m_home.filePath(QStringLiteral("modemlines"));
    if (!ModemShim::writeStateFile(state, modemLines))
        return run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MODEMSHIM_STATE"), state);
    QProcess check;
    check.setProcessEnvironment(env);
    QEventLoop loop;
    connect(&check, &QProcess::finished, &loop, &QEventLoop::quit);
    connect(&check, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    check.start(QStringLiteral(LINKPROBE_CHECK_PATH), args + QStringList{QStringLiteral("find")});
    // The fixtures answer from this event loop while the child waits.
    loop.exec();
    if (check.state() != QProcess::NotRunning) {
        check.kill();
        check.waitForFinished(2000);
        return run;
    }
    run.status = check.exitStatus() == QProcess::NormalExit ? check.exitCode() : -1;
    run.lines = QString::fromUtf8(check.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    run.err = QString::fromUtf8(check.readAllStandardError());
    return run;
}

void tst_Find::foundOnTheSecondAtItsRate()
{
    PtyFixture first(*m_fixtureStore);
    PtyFixture second(*m_fixtureStore);
    QVERIFY2(first.plug(), qPrintable(first.errorString()));
    QVERIFY2(second.plug(), qPrintable(second.errorString()));
    // The first port has a powered БС on it whose БСУ never answers; the second holds the installation at 9600.
    first.setAnswering(false);
    second.setScenario(Scenario());
    second.answerOnlyAt(9600);

    const QString a = first.devicePath();
    const QString b = second.devicePath();
    const Run run = find({"--port", a, "--port", b, "--save"}, TIOCM_DSR | TIOCM_CTS);
    QVERIFY2(run.status == 0, qPrintable(run.lines.join('\n') + run.err));
    QCOMPARE(run.lines, (QStringList{
        a + ": БС подключён и включён, но БСУ не ответил ни на одной скорости "
            "(4800, 2400, 9600, 19200, 38400, 57600, 115200, 256000 бод)",
        b + ": БСУ отвечает на скорости 9600 бод, принято = [@00BSU]",
        "Установка найдена: " + b + ", 9600 бод",
    }));
    // The saved rate first, then the dialog's rates in order, until the answer.
    QCOMPARE(first.written(), QByteArray("#0002\r\n").repeated(8));
    QCOMPARE(second.written(), QByteArray("#0002\r\n").repeated(3));

    // Saved for the window: the first of COM1 to COM8 with no device of its own, mapped to the port.
    SettingsStore saved;
    const int com = readSetting(saved, "COMPORT", "COM", QString()).toInt();
    QVERIFY2(com >= 1 && com <= 8, qPrintable(run.err));
    QCOMPARE(readSetting(saved, "PORTS", QStringLiteral("COM%1").arg(com), QString()), b);
    QCOMPARE(readSetting(saved, "COMPORT", "BAUD", QString()), QStringLiteral("9600"));
    const QList<DetectedPort> system = detectedPorts();
    for (int n = 1; n < com; ++n) {
        const QString own = QStringLiteral("/dev/ttyS%1").arg(n - 1);
        QVERIFY2(std::any_of(system.cbegin(), system.cend(), [&](const DetectedPort &p) { return p.device == own; }),
                 qPrintable(QStringLiteral("COM%1 was free, COM%2 taken").arg(n).arg(com)));
    }

    // Found again: now the saved rate comes first and answers at once, and
    // the port keeps the COM number it has. Told as a JSON document this time.
    first.clearWritten();
    second.clearWritten();
    const Run again = find({"--json", "--port", b, "--save"}, TIOCM_DSR | TIOCM_CTS);
    QCOMPARE(again.status, 0);
    QCOMPARE(second.written(), QByteArray("#0002\r\n"));
    QCOMPARE(readSetting(SettingsStore(), "COMPORT", "COM", QString()).toInt(), com);

    QJsonParseError error;
    const QJsonObject report = QJsonDocument::fromJson(again.lines.join('\n').toUtf8(), &error).object();
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString() + again.lines.join('\n')));
    QCOMPARE(report.value("command").toString(), QStringLiteral("find"));
    QCOMPARE(report.value("exitStatus").toInt(-1), 0);
    QCOMPARE(report.value("firstBaud").toInt(), 9600);
    const QJsonArray candidates = report.value("candidates").toArray();
    QCOMPARE(candidates.size(), 1);
    const QJsonObject candidate = candidates.first().toObject();
    QCOMPARE(candidate.value("device").toString(), b);
    QCOMPARE(candidate.value("outcome").toString(), QStringLiteral("found"));
    QCOMPARE(candidate.value("baud").toInt(), 9600);
    QCOMPARE(candidate.value("ratesTried").toArray(), QJsonArray{9600});
    QCOMPARE(candidate.value("reply").toString(), QStringLiteral("@00BSU"));
    QCOMPARE(candidate.value("line").toString(), b + ": БСУ отвечает на скорости 9600 бод, принято = [@00BSU]");
    QCOMPARE(report.value("installation").toObject(), (QJsonObject{{"device", b}, {"baud", 9600}}));
}

void tst_Find::nothingFound()
{
    PtyFixture first(*m_fixtureStore);
    PtyFixture second(*m_fixtureStore);
    QVERIFY2(first.plug(), qPrintable(first.errorString()));
    QVERIFY2(second.plug(), qPrintable(second.errorString()));
    second.setScenario(Scenario());

    // No cable on either: DSR is off.
    const Run run = find({"--port", first.devicePath(), "--port", second.devicePath(), "--save"}, 0);
    QCOMPARE(run.status, 7);
    QCOMPARE(run.lines, (QStringList{
        first.devicePath() + ": нет сигнала DSR - БС не подключён к этому порту",
        second.devicePath() + ": нет сигнала DSR - БС не подключён к этому порту",
        "Установка не найдена",
    }));
    QVERIFY(second.written().isEmpty());
    QVERIFY(!QFile::exists(SettingsStore().fileName()));
}

// A save asked for and refused is the exit status, so that "find --save &&
// next step" stops; the verdict lines are the same as a saved find's.
void tst_Find::foundButNotSavedEndsWith73()
{
    PtyFixture line(*m_fixtureStore);
    QVERIFY2(line.plug(), qPrintable(line.errorString()));
    line.setScenario(Scenario());
    // Where the settings file should be, a folder: nothing can be saved there.
    const QString settings = SettingsStore().fileName();
    QVERIFY(QDir().mkpath(settings));
    const auto removeFolder = qScopeGuard([&] { QDir().rmdir(settings); });

    const Run run = find({"--port", line.devicePath(), "--save"}, TIOCM_DSR | TIOCM_CTS);
    QCOMPARE(run.status, 73);
    QCOMPARE(run.lines.constLast(), "Установка найдена: " + line.devicePath() + ", 4800 бод");
    QCOMPARE(run.err.count(QStringLiteral("Не удалось сохранить настройки")), 1);
}

int main(int argc, char **argv)
{
#ifdef MODEMSHIM_PATH
    ModemShim::preload(MODEMSHIM_PATH, argv);
#endif
    QCoreApplication app(argc, argv);
    tst_Find test;
    // The program and this test keep their settings in a temporary home.
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath("config")));
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_find.moc"
