// linkprobe-check as a technician's script sees it: the lines on standard
// output, the exit status and what is left in the saved settings.

#include "link/settingsstore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include "expectedlines.h"

#include <QTest>

#ifdef Q_OS_WIN
#include <windows.h>
#endif
#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif
#include <functional>

namespace {

struct Run
{
    int status = -1;     // -1: crashed or hung
    QByteArray out;
    QStringList lines;   // standard output, one entry per line
    QString err;
    qint64 ms = 0;
};


// How many control bytes a noisy line puts before a reply depends on timing: a run of "?" counts as one.
QStringList foldMasks(QStringList lines)
{
    static const QRegularExpression masks("\\?+");
    for (QString &line : lines)
        line.replace(masks, "?");
    return lines;
}

} // namespace

class TestCheckCli : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    QString m_settingsFile;

    static QString program()
    {
#ifdef LINKPROBE_CHECK_PATH
        return QStringLiteral(LINKPROBE_CHECK_PATH);
#else
        return QCoreApplication::applicationDirPath() + "/../app/linkprobe-check";
#endif
    }

    // childSetup runs in the child before the program starts (Unix only).
    static Run run(const QStringList &args, const std::function<void()> &childSetup = {})
    {
        QProcess process;
#ifdef Q_OS_UNIX
        if (childSetup)
            process.setChildProcessModifier(childSetup);
#endif
        QElapsedTimer wall;
        wall.start();
        process.start(program(), args);
        Run r;
        // A loaded machine starts a program under Wine slowly: a minute, and a run
        // that takes longer says so in its lines.
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            r.lines = QStringList{QStringLiteral("<not finished in 60 s: %1>").arg(process.errorString())};
            return r;
        }
        r.ms = wall.elapsed();
        r.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        r.out = process.readAllStandardOutput();
        r.err = QString::fromUtf8(process.readAllStandardError());
        r.lines = QString::fromUtf8(r.out).split('\n');
        // Every line ends in LF, so the last piece is empty.
        if (r.lines.takeLast() != QString())
            r.lines << "<no LF at the end>";
        return r;
    }

    static Run simulate(const QString &scenario, const QStringList &command)
    {
        return run(QStringList{"--simulate=" + scenario, "--instant"} + command);
    }

    QStringList saved() const
    {
        QSettings file(m_settingsFile, QSettings::IniFormat);
        QStringList values;
        for (const QString &key : file.allKeys())
            values << key + "=" + file.value(key).toString();
        values.sort();
        return values;
    }

    void save(const QStringList &values)
    {
        QSettings file(m_settingsFile, QSettings::IniFormat);
        for (const QString &value : values)
            file.setValue(value.section('=', 0, 0), value.section('=', 1));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(program()), qPrintable(program()));
#ifdef Q_OS_WIN
        // Windows says where a user's settings are (%APPDATA%), for the program
        // and this test alike: only those of a user made for the tests may change.
        const bool underWine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
        if (!underWine)
            QSKIP("linkprobe-check would change this user's own settings in %APPDATA%; "
                  "the test runs under Wine, in a prefix of its own");
        m_settingsFile = SettingsStore().fileName();
#else
        // The program and this test both keep their settings in the temporary home.
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath("config")));
        m_settingsFile = SettingsStore().fileName();
        QVERIFY(m_settingsFile.startsWith(m_home.path()));
#endif
    }

    void init() { QFile::remove(m_settingsFile); }

    void linkTest_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("status");
        QTest::newRow("ok") << "ok" << kLinkGood << 0;
        QTest::newRow("noise") << "noise" << QStringList{kBsFound, "Принято = [?@00BSU]"} + kLinkGood.mid(2) << 0;
        QTest::newRow("no-cable") << "no-cable" << kError1 << 1;
        QTest::newRow("no-cable,no-power") << "no-cable,no-power" << kError1 << 1;
        QTest::newRow("no-power") << "no-power" << kError2 << 2;
        QTest::newRow("line-break") << "line-break" << QStringList{kBsFound, "Принято = []"} + kError3 << 3;
        QTest::newRow("late") << "late" << QStringList{kBsFound, "Принято = []"} + kError3 << 3;
        QTest::newRow("bsu-off") << "bsu-off" << QStringList{kBsFound, "Принято = [#0002]"} + kError4 << 4;
    }

    void linkTest()
    {
        QFETCH(QString, scenario);
        QFETCH(QStringList, lines);
        QFETCH(int, status);
        const Run r = simulate(scenario, {"link"});
        QCOMPARE(foldMasks(r.lines), lines);
        QCOMPARE(r.status, status);
        QCOMPARE(saved(), QStringList());
    }

    void blockCheck_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<int>("block");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("savedAfter");
        QTest::newRow("5 answers") << "ok" << 5 << blockLines(5, "05", "@05T+20.5", true) << 0 << QStringList{"NBLOCK/BLOCK=5"};
        QTest::newRow("10 answers") << "ok" << 10 << blockLines(10, "0A", "@0AT+23.0", true) << 0 << QStringList{"NBLOCK/BLOCK=10"};
        QTest::newRow("32 answers") << "ok" << 32 << blockLines(32, "20", "@20T+34.0", true) << 0 << QStringList{"NBLOCK/BLOCK=32"};
        QTest::newRow("16 in noise") << "noise" << 16 << blockLines(16, "10", "?@10T+26.0", true) << 0 << QStringList{"NBLOCK/BLOCK=16"};
        QTest::newRow("5 absent") << "blocks=1-4,6-32" << 5 << blockLines(5, "05", "", false) << 5 << QStringList{"NBLOCK/BLOCK=5"};
        // A failed link test is the whole report, and the block is not saved.
        QTest::newRow("no-cable") << "no-cable" << 7 << kError1 << 1 << QStringList();
        QTest::newRow("no-power") << "no-power" << 7 << kError2 << 2 << QStringList();
        QTest::newRow("line-break") << "line-break" << 7 << kError3 << 3 << QStringList();
        QTest::newRow("late") << "late" << 7 << kError3 << 3 << QStringList();
        QTest::newRow("bsu-off") << "bsu-off" << 7 << kError4 << 4 << QStringList();
    }

    void blockCheck()
    {
        QFETCH(QString, scenario);
        QFETCH(int, block);
        QFETCH(QStringList, lines);
        QFETCH(int, status);
        QFETCH(QStringList, savedAfter);
        const Run r = simulate(scenario, {"block", QString::number(block)});
        QCOMPARE(foldMasks(r.lines), lines);
        QCOMPARE(r.status, status);
        QCOMPARE(saved(), savedAfter);
    }

    void scan_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QList<int>>("answering");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<int>("status");
        QList<int> all;
        for (int n = 1; n <= 32; ++n)
            all << n;
        QTest::newRow("all") << "ok" << all << "Отвечают блоки: 1-32 (32 из 32)" << 0;
        QTest::newRow("runs") << "blocks=1-5,9" << QList<int>{1, 2, 3, 4, 5, 9} << "Отвечают блоки: 1-5, 9 (6 из 32)" << 5;
        QTest::newRow("ends") << "blocks=1,3-4,31-32" << QList<int>{1, 3, 4, 31, 32}
                              << "Отвечают блоки: 1, 3-4, 31-32 (5 из 32)" << 5;
        QTest::newRow("none") << "blocks=none" << QList<int>{} << "Ни один блок не отвечает" << 5;
    }

    void scan()
    {
        QFETCH(QString, scenario);
        QFETCH(QList<int>, answering);
        QFETCH(QString, summary);
        QFETCH(int, status);
        const Run r = simulate(scenario, {"scan"});
        QCOMPARE(r.lines.size(), 4 + 32 * 3 + 1);
        QCOMPARE(r.lines.mid(0, 4), kLinkGood);
        for (int n = 1; n <= 32; ++n) {
            const QString address = QString("%1").arg(n, 2, 16, QChar('0')).toUpper();
            const QStringList expected = blockLines(n, address, QString(), answering.contains(n));
            QCOMPARE(r.lines.at(4 + (n - 1) * 3), expected.at(0));
            QCOMPARE(r.lines.at(4 + (n - 1) * 3 + 2), expected.at(2));
        }
        QCOMPARE(r.lines.last(), summary);
        QCOMPARE(r.status, status);
        QCOMPARE(saved(), QStringList());

        const Run failed = simulate(scenario + ",no-power", {"scan"});
        QCOMPARE(failed.lines, kError2);
        QCOMPARE(failed.status, 2);
    }

    void repeatedScan()
    {
        // Block 5 answers the first, third, ... query only.
        const Run r = simulate("blocks=1-31,flaky=5", {"--repeat", "3", "scan"});
        QStringList rounds;
        for (const QString &line : r.lines)
            if (line.startsWith("Круг "))
                rounds << line;
        QCOMPARE(rounds, (QStringList{"Круг 1: Отвечают блоки: 1-31 (31 из 32)",
                                      "Круг 2: Отвечают блоки: 1-4, 6-31 (30 из 32)",
                                      "Круг 3: Отвечают блоки: 1-31 (31 из 32)"}));
        QCOMPARE(r.lines.mid(r.lines.size() - 2),
                 (QStringList{"Блок 5: ответил 2 из 3 (66 %)", "Блок 32: ответил 0 из 3 (0 %)"}));
        QCOMPARE(r.lines.count(kLinkGood.first()), 3);
        QCOMPARE(r.status, 5);

        const Run steady = simulate("ok", {"--repeat", "2", "scan"});
        QCOMPARE(steady.lines.last(), QStringLiteral("Каждый опрошенный блок ответил в каждом круге"));
        QCOMPARE(steady.status, 0);
    }

    void jsonReport_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<int>("status");
        QTest::newRow("link") << QStringList{"link"} << 0;
        QTest::newRow("link, no power") << QStringList{"link"} << 2;
        QTest::newRow("block") << QStringList{"--fast", "block", "9"} << 5;
        QTest::newRow("scan") << QStringList{"scan"} << 5;
        QTest::newRow("scan, repeated") << QStringList{"--repeat", "2", "scan"} << 5;
    }

    void jsonReport()
    {
        QFETCH(QStringList, command);
        QFETCH(int, status);
        const QString scenario = QTest::currentDataTag() == QByteArray("link, no power") ? "no-power" : "blocks=1-8";
        const Run r = simulate(scenario, QStringList{"--json"} + command);
        QCOMPARE(r.status, status);
        // Repeated, a document a line: each round's as it ends, then the run's.
        const bool repeated = command.contains("--repeat");
        QJsonArray documents;
        for (const QByteArray &text : repeated ? r.out.trimmed().split('\n') : QList<QByteArray>{r.out}) {
            QJsonParseError error;
            documents << QJsonDocument::fromJson(text, &error).object();
            QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
        }
        const QJsonObject report = documents.takeAt(documents.size() - 1).toObject();

        // The fields docs/REFERENCE.md documents, with their types.
        const auto has = [&](const QJsonObject &object, const QString &key, QJsonValue::Type type) {
            QVERIFY2(object.value(key).type() == type,
                     qPrintable(QStringLiteral("%1 is of type %2").arg(key).arg(int(object.value(key).type()))));
        };
        has(report, "program", QJsonValue::String);
        has(report, "version", QJsonValue::String);
        has(report, "command", QJsonValue::String);
        has(report, "port", QJsonValue::String);
        has(report, "device", QJsonValue::String);
        has(report, "baud", QJsonValue::Double);
        has(report, "portOpened", QJsonValue::Bool);
        has(report, "simulated", QJsonValue::String);
        has(report, "exitStatus", QJsonValue::Double);
        QCOMPARE(report.value("program").toString(), QStringLiteral("linkprobe-check"));
        QCOMPARE(report.value("command").toString(), command.last() == "9" ? "block" : command.last());
        QCOMPARE(report.value("port").toString(), QStringLiteral("COM2"));
        QCOMPARE(report.value("baud").toInt(), 4800);
        QCOMPARE(report.value("exitStatus").toInt(), status);
        QVERIFY(QDateTime::fromString(report.value("started").toString(), Qt::ISODate).isValid());

        const auto checkLink = [&](const QJsonObject &link) {
            has(link, "verdict", QJsonValue::Double);
            has(link, "reply", QJsonValue::String);
            QCOMPARE(link.value("verdict").toInt(), status == 2 ? 2 : 0);
            QCOMPARE(link.value("reply").toString(), status == 2 ? QString() : QStringLiteral("@00BSU"));
        };
        const auto checkBlocks = [&](const QJsonArray &blocks, int count) {
            QCOMPARE(blocks.size(), count);
            for (const QJsonValue &value : blocks) {
                const QJsonObject block = value.toObject();
                for (const char *key : {"number", "ms"})
                    has(block, key, QJsonValue::Double);
                has(block, "query", QJsonValue::String);
                has(block, "reply", QJsonValue::String);
                has(block, "answered", QJsonValue::Bool);
                const int n = block.value("number").toInt();
                QCOMPARE(block.value("query").toString(), QStringLiteral("#%1").arg(n, 2, 16, QChar('0')).toUpper() + "02");
                QCOMPARE(block.value("answered").toBool(), n <= 8);
                QCOMPARE(block.value("reply").toString().startsWith(QStringLiteral("@")), n <= 8);
                QVERIFY(n <= 8 || block.value("ms").toInt() >= 1000);
            }
        };
        if (report.value("command") == "scan") {
            QCOMPARE(report.value("replyEnd").toString(), QStringLiteral("line-end"));
            const QJsonArray rounds = repeated ? documents : report.value("rounds").toArray();
            QCOMPARE(rounds.size(), repeated ? report.value("roundCount").toInt() : 1);
            QCOMPARE(rounds.size(), repeated ? 2 : 1);
            for (int i = 0; i < rounds.size(); ++i) {
                const QJsonObject round = rounds.at(i).toObject();
                QCOMPARE(round.value("round").toInt(), i + 1);
                has(round, "stopped", QJsonValue::Bool);
                has(round, "portLost", QJsonValue::Bool);
                checkLink(round.value("link").toObject());
                checkBlocks(round.value("blocks").toArray(), 32);
            }
            const QJsonArray totals = report.value("totals").toArray();
            QCOMPARE(totals.size(), 32);
            const QJsonObject nine = totals.at(8).toObject();
            QCOMPARE(nine.value("number").toInt(), 9);
            QCOMPARE(nine.value("queried").toInt(), int(rounds.size()));
            QCOMPARE(nine.value("answered").toInt(), 0);
        } else {
            checkLink(report.value("link").toObject());
            if (report.value("command") == "block")
                checkBlocks(report.value("blocks").toArray(), 1);
        }
    }

    // The port list as a document: a COM number mapped to a device that is
    // not there is listed, absent, beside whatever this machine has.
    void jsonPortList()
    {
#ifdef Q_OS_WIN
        QSKIP("COM numbers are mapped to devices on Linux only");
#endif
        save({"PORTS/COM5=/dev/ttyUSB97"});
        const Run r = run({"--json", "ports"});
        QCOMPARE(r.status, 0);
        QJsonParseError error;
        const QJsonObject report = QJsonDocument::fromJson(r.out, &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString() + r.out));
        QCOMPARE(report.value("command").toString(), QStringLiteral("ports"));
        QCOMPARE(report.value("exitStatus").toInt(-1), 0);
        const QJsonArray ports = report.value("ports").toArray();
        const auto mapped = std::find_if(ports.begin(), ports.end(), [](const QJsonValue &port) {
            return port.toObject().value("device").toString() == QStringLiteral("/dev/ttyUSB97");
        });
        QVERIFY2(mapped != ports.end(), r.out.constData());
        const QJsonObject port = mapped->toObject();
        QCOMPARE(port.value("comPorts").toArray(), QJsonArray{5});
        QCOMPARE(port.value("detected").toBool(true), false);
        QCOMPARE(port.value("state").toString(), QStringLiteral("absent"));
        QCOMPARE(port.value("stateText").toString(), QStringLiteral("устройства нет в системе"));
    }

    void optionsAreForThisRunOnly_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QStringList>("savedAfter");
        const QStringList before = {"COMPORT/BAUD=2400", "COMPORT/COM=5"};
        QTest::newRow("link") << QStringList{"link"} << before;
        QTest::newRow("scan") << QStringList{"scan"} << before;
        QTest::newRow("block") << QStringList{"block", "4"} << before + QStringList{"NBLOCK/BLOCK=4"};
    }

    void optionsAreForThisRunOnly()
    {
        QFETCH(QStringList, command);
        QFETCH(QStringList, savedAfter);
        save({"COMPORT/COM=5", "COMPORT/BAUD=2400"});
        const Run r = run(QStringList{"--port", "3", "--baud=9600", "--simulate", "--instant"} + command);
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.contains("COM3, 9600 бод"), qPrintable(r.err));
        QCOMPARE(saved(), savedAfter);
    }

    void portNotOpen_data()
    {
        QTest::addColumn<QStringList>("savedBefore");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("reason");
#ifdef Q_OS_WIN
        // Ports this high are never there.
        const QStringList absent = {"--port", "231"};
        const QStringList savedAbsent = {"COMPORT/COM=237"};
        QTest::newRow("link") << QStringList() << absent + QStringList{"link"} << "COM231";
        QTest::newRow("block") << QStringList() << absent + QStringList{"block", "3"} << "COM231";
        QTest::newRow("scan") << QStringList() << absent + QStringList{"scan"} << "COM231";
        QTest::newRow("saved port") << savedAbsent << QStringList{"block", "3"} << "COM237";
        QTest::newRow("--port over saved") << savedAbsent << absent + QStringList{"link"} << "COM231)";
#else
        const QStringList absent = {"--port", "/dev/does-not-exist"};
        const QStringList savedAbsent = {"COMPORT/COM=7", "PORTS/COM7=/dev/does-not-exist-7"};
        QTest::newRow("link") << QStringList() << absent + QStringList{"link"} << "/dev/does-not-exist";
        QTest::newRow("block") << QStringList() << absent + QStringList{"block", "3"} << "/dev/does-not-exist";
        QTest::newRow("scan") << QStringList() << absent + QStringList{"scan"} << "/dev/does-not-exist";
        QTest::newRow("saved port") << savedAbsent << QStringList{"block", "3"} << "/dev/does-not-exist-7";
        QTest::newRow("--port over saved") << savedAbsent << absent + QStringList{"link"} << "Порт /dev/does-not-exist не открылся";
#endif
        QTest::newRow("unplugged") << QStringList() << QStringList{"--simulate=unplugged", "--instant", "block", "3"} << "unplugged";
    }

    void portNotOpen()
    {
        QFETCH(QStringList, savedBefore);
        QFETCH(QStringList, args);
        QFETCH(QString, reason);
        save(savedBefore);
        const Run r = run(args);
        QCOMPARE(r.out, QByteArray("Ошибка открытия порта!!!\n"));
        QCOMPARE(r.status, 6);
        QVERIFY2(r.err.contains(reason), qPrintable(r.err));
        QCOMPARE(saved(), savedBefore);
    }

    void badArguments_data()
    {
        QTest::addColumn<QStringList>("args");
        const QList<QStringList> cases = {
            {}, {"check"}, {"block"}, {"block", "0"}, {"block", "33"}, {"block", "-3"}, {"block", "5x"},
            {"block", "5", "6"}, {"link", "now"}, {"scan", "1"}, {"--baud", "fast", "link"}, {"--baud=0", "link"},
            {"--baud", "99999999999", "link"}, {"--port", "0", "link"}, {"--port", "256", "link"},
            {"--port", "modem", "link"}, {"link", "--port"}, {"--simulate=sunny", "link"},
            {"--simulate=blocks=0-40", "link"}, {"--instant", "link"}, {"--verbose", "link"},
        };
        for (const QStringList &args : cases)
            QTest::newRow(qPrintable("[" + args.join(' ') + "]")) << args;
    }

    void badArguments()
    {
        QFETCH(QStringList, args);
        const Run r = run(args);
        QCOMPARE(r.status, 64);
        QCOMPARE(r.out, QByteArray());
        QVERIFY(!r.err.trimmed().isEmpty());
    }

    // A settings file that cannot be read or saved: each failure is one line on
    // standard error, with the file and the reason; the check and its verdict
    // are as they would be without it.
    void settingsProblemsToldOnStandardError()
    {
        QVERIFY(QDir().mkpath(m_settingsFile));
        const auto removeFolder = qScopeGuard([this] { QDir(m_settingsFile).removeRecursively(); });
        const Run r = simulate("ok", {"block", "7"});
        QCOMPARE(r.lines, blockLines(7, "07", "@07T+21.5", true));
        QCOMPARE(r.status, 0);
        const QString file = QDir::toNativeSeparators(m_settingsFile);
        const QString read = "Не удалось прочитать настройки из " + file
                             + ": на месте файла папка; действуют значения по умолчанию";
        const QString save = "Не удалось сохранить настройки в " + file + ": на месте файла папка";
        QCOMPARE(r.err.count(read), 1);
        QCOMPARE(r.err.count(save), 1);
        QVERIFY(QFileInfo(m_settingsFile).isDir());
    }

#ifdef Q_OS_UNIX
    // Under a file size limit the settings are not saved: told, not fatal, no size probe left.
    void fileSizeLimitIsAToldFailure()
    {
        const Run r = run({"--simulate", "--instant", "block", "6"}, [] {
            const rlimit oneByte {1, 1};
            ::setrlimit(RLIMIT_FSIZE, &oneByte);
        });
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.contains("Не удалось сохранить настройки в " + m_settingsFile), qPrintable(r.err));
        const QFileInfo settings(m_settingsFile);
        QCOMPARE(settings.dir().entryList({settings.fileName() + ".probe-*"}, QDir::Files | QDir::Hidden), QStringList());
    }
#endif

    // The one run in real time: the fixed waits are kept, and not by much more.
    void realTimeLinkTest()
    {
        const Run r = run({"--simulate", "link"});
        QCOMPARE(r.lines, kLinkGood);
        QCOMPARE(r.status, 0);
        QVERIFY2(r.ms >= 1500, qPrintable(QString::number(r.ms)));
        // The check's own measure: starting a process alone can take 0.5 s (under Wine).
        static const QRegularExpression took("Проверка заняла (\\d+) мс");
        const QRegularExpressionMatch reported = took.match(r.err);
        QVERIFY2(reported.hasMatch(), qPrintable(r.err));
        const int ms = reported.captured(1).toInt();
        QVERIFY2(ms >= 1500 && ms < 1800, qPrintable(QString::number(ms)));
    }
};

QTEST_GUILESS_MAIN(TestCheckCli)
#include "tst_checkcli.moc"
