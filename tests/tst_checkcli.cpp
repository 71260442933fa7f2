// linkprobe-check as a technician's script sees it: the lines on standard
// output, the exit status and what is left in the saved settings.

#include "link/settingsstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run
{
    int status = -1;
    QStringList lines;   // standard output, one entry per line
    QByteArray out;
    QString err;
    qint64 ms = 0;
};

const QStringList kLinkGood = {
    QStringLiteral("Соединение с БС обнаружено"),
    QStringLiteral("Принято = [@00BSU]"),
    QStringLiteral("Соединение с БСУ обнаружено"),
    QStringLiteral("Тестирование прошло успешно"),
};
const QStringList kError1 = {
    QStringLiteral("ОШИБКА №1, возможные причины:"),
    QStringLiteral("- не подключен БС к Com-порту."),
    QStringLiteral("- БС подключен не к тому Com-порту"),
    QStringLiteral("- неисправен кабель связи PC-БС"),
    QStringLiteral("- неисправен Com-порт компьютера"),
    QStringLiteral("- неисправен БС"),
};
const QStringList kError2 = {
    QStringLiteral("ОШИБКА №2, возможные причины:"),
    QStringLiteral("- отсутствует питание БС"),
    QStringLiteral("- неисправен БС"),
};
const QStringList kError3 = {
    QStringLiteral("ОШИБКА №3, возможные причины:"),
    QStringLiteral("- обрыв линии связи БС - БСУ"),
    QStringLiteral("- неисправен БС"),
    QStringLiteral("- неисправен БСУ"),
};
const QStringList kError4 = {
    QStringLiteral("ОШИБКА №4, возможные причины:"),
    QStringLiteral("- отсутствует питание БСУ"),
    QStringLiteral("- неисправен БСУ"),
};
const QString kBs = QStringLiteral("Соединение с БС обнаружено");
const QString kPortError = QStringLiteral("Ошибка открытия порта!!!");

// The three lines of block n, queried at address (two upper-case hex digits).
QStringList blockLines(int n, const QString &address, const QString &reply, bool answers)
{
    const QString number = QString::number(n);
    return {number + QStringLiteral(": Запрос = [#") + address + QStringLiteral("02]"),
            number + QStringLiteral(": Принято = [") + reply + QLatin1Char(']'),
            answers ? number + QStringLiteral(": Тестирование прошло успешно, блок отвечает")
                    : number + QStringLiteral(": Нет ответа от блока номер ") + number + QStringLiteral(" ?")};
}

// How many control bytes a noisy line puts before a reply depends on timing:
// a run of "?" counts as one.
QStringList foldMasks(QStringList lines)
{
    static const QRegularExpression masks(QStringLiteral("\\?+"));
    for (QString &line : lines)
        line.replace(masks, QStringLiteral("?"));
    return lines;
}

} // namespace

class TestCheckCli : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QString m_settingsFile;

    QString program() const
    {
        const QString given = qEnvironmentVariable("LINKPROBE_CHECK");
        if (!given.isEmpty())
            return given;
#ifdef LINKPROBE_CHECK_PATH
        return QStringLiteral(LINKPROBE_CHECK_PATH);
#else
        return QCoreApplication::applicationDirPath() + QStringLiteral("/../app/linkprobe-check");
#endif
    }

    Run run(const QStringList &args)
    {
        QProcess process;
        process.setProgram(program());
        process.setArguments(args);
        QElapsedTimer wall;
        wall.start();
        process.start();
        Run r;
        if (!process.waitForFinished(20000)) {
            process.kill();
            process.waitForFinished();
            qWarning() << "linkprobe-check did not end:" << args;
            return r;
        }
        r.ms = wall.elapsed();
        if (process.exitStatus() == QProcess::NormalExit)
            r.status = process.exitCode();
        r.out = process.readAllStandardOutput();
        r.err = QString::fromUtf8(process.readAllStandardError());
        r.lines = QString::fromUtf8(r.out).split(QLatin1Char('\n'));
        // Every line ends in LF: the last piece is empty.
        if (r.lines.last().isEmpty())
            r.lines.removeLast();
        else
            r.lines << QStringLiteral("<no LF at the end>");
        return r;
    }

    QStringList saved() const
    {
        QSettings file(m_settingsFile, QSettings::IniFormat);
        QStringList values;
        for (const QString &key : file.allKeys())
            values << key + QLatin1Char('=') + file.value(key).toString();
        values.sort();
        return values;
    }

    void save(const QString &key, const QString &value)
    {
        QSettings file(m_settingsFile, QSettings::IniFormat);
        file.setValue(key, value);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        QVERIFY2(QFile::exists(program()), qPrintable(program()));
        // The program and this test both keep their settings in the temporary home.
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(QStringLiteral("config"))));
        m_settingsFile = SettingsStore().fileName();
        QVERIFY(m_settingsFile.startsWith(m_home.path()));
    }

    void init() { QFile::remove(m_settingsFile); }

    void linkTest_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("status");

        const QString nothing = QStringLiteral("Принято = []");
        QTest::newRow("ok") << "ok" << kLinkGood << 0;
        QTest::newRow("no-cable") << "no-cable" << kError1 << 1;
        QTest::newRow("no-cable,no-power") << "no-cable,no-power" << kError1 << 1;
        QTest::newRow("no-power") << "no-power" << kError2 << 2;
        QTest::newRow("line-break") << "line-break" << QStringList{kBs, nothing} + kError3 << 3;
        QTest::newRow("bsu-off") << "bsu-off" << QStringList{kBs, QStringLiteral("Принято = [#0002]")} + kError4 << 4;
        QTest::newRow("late") << "late" << QStringList{kBs, nothing} + kError3 << 3;
        QStringList noisy = kLinkGood;
        noisy[1] = QStringLiteral("Принято = [?@00BSU]");
        QTest::newRow("noise") << "noise" << noisy << 0;
    }

    void linkTest()
    {
        QFETCH(QString, scenario);
        QFETCH(QStringList, lines);
        QFETCH(int, status);

        const Run r = run({QStringLiteral("--simulate=") + scenario, QStringLiteral("--instant"), QStringLiteral("link")});
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

        const auto blockSaved = [](int n) { return QStringList{QStringLiteral("NBLOCK/BLOCK=%1").arg(n)}; };
        QTest::newRow("block 5 answers") << "ok" << 5 << blockLines(5, "05", "@05T+20.5", true) << 0 << blockSaved(5);
        QTest::newRow("block 10 answers") << "ok" << 10 << blockLines(10, "0A", "@0AT+23.0", true) << 0 << blockSaved(10);
        QTest::newRow("block 32 answers") << "ok" << 32 << blockLines(32, "20", "@20T+34.0", true) << 0 << blockSaved(32);
        QTest::newRow("block 5 absent") << "blocks=1-4,6-32" << 5 << blockLines(5, "05", "", false) << 5 << blockSaved(5);
        QTest::newRow("noise") << "noise" << 16 << blockLines(16, "10", "?@10T+26.0", true) << 0 << blockSaved(16);
        // A failed link test is the whole report, and the block is not saved.
        QTest::newRow("no-cable") << "no-cable" << 7 << kError1 << 1 << QStringList();
        QTest::newRow("no-power") << "no-power" << 7 << kError2 << 2 << QStringList();
        QTest::newRow("line-break") << "line-break" << 7 << kError3 << 3 << QStringList();
        QTest::newRow("bsu-off") << "bsu-off" << 7 << kError4 << 4 << QStringList();
        QTest::newRow("late") << "late" << 7 << kError3 << 3 << QStringList();
    }

    void blockCheck()
    {
        QFETCH(QString, scenario);
        QFETCH(int, block);
        QFETCH(QStringList, lines);
        QFETCH(int, status);
        QFETCH(QStringList, savedAfter);

        const Run r = run({QStringLiteral("--simulate=") + scenario, QStringLiteral("--instant"),
                           QStringLiteral("block"), QString::number(block)});
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
        QTest::newRow("runs and singles") << "blocks=1-5,9" << QList<int>{1, 2, 3, 4, 5, 9}
                                          << "Отвечают блоки: 1-5, 9 (6 из 32)" << 5;
        QTest::newRow("ends of the list") << "blocks=1,3-4,31-32" << QList<int>{1, 3, 4, 31, 32}
                                          << "Отвечают блоки: 1, 3-4, 31-32 (5 из 32)" << 5;
        QTest::newRow("none") << "blocks=none" << QList<int>{} << "Ни один блок не отвечает" << 5;
    }

    void scan()
    {
        QFETCH(QString, scenario);
        QFETCH(QList<int>, answering);
        QFETCH(QString, summary);
        QFETCH(int, status);

        const Run r = run({QStringLiteral("--simulate=") + scenario, QStringLiteral("--instant"), QStringLiteral("scan")});
        QCOMPARE(r.lines.size(), 4 + 32 * 3 + 1);
        QCOMPARE(r.lines.mid(0, 4), kLinkGood);
        for (int n = 1; n <= 32; ++n) {
            const QStringList block = r.lines.mid(4 + (n - 1) * 3, 3);
            const QStringList expected = blockLines(n, QStringLiteral("%1").arg(n, 2, 16, QLatin1Char('0')).toUpper(),
                                                    QString(), answering.contains(n));
            QCOMPARE(block.at(0), expected.at(0));
            QCOMPARE(block.at(2), expected.at(2));
        }
        QCOMPARE(r.lines.last(), summary);
        QCOMPARE(r.status, status);
        QCOMPARE(saved(), QStringList());
    }

    void scanStopsAtFailedLink()
    {
        const Run r = run({QStringLiteral("--simulate=no-power"), QStringLiteral("--instant"), QStringLiteral("scan")});
        QCOMPARE(r.lines, kError2);
        QCOMPARE(r.status, 2);
    }

    void optionsAreForThisRunOnly_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QStringList>("savedAfter");

        const QStringList before = {QStringLiteral("COMPORT/BAUD=2400"), QStringLiteral("COMPORT/COM=5")};
        QTest::newRow("link") << QStringList{"link"} << before;
        QTest::newRow("scan") << QStringList{"scan"} << before;
        QTest::newRow("block") << QStringList{"block", "4"} << before + QStringList{"NBLOCK/BLOCK=4"};
    }

    void optionsAreForThisRunOnly()
    {
        QFETCH(QStringList, command);
        QFETCH(QStringList, savedAfter);

        save(QStringLiteral("COMPORT/COM"), QStringLiteral("5"));
        save(QStringLiteral("COMPORT/BAUD"), QStringLiteral("2400"));
        const Run r = run(QStringList{"--port", "3", "--baud=9600", "--simulate", "--instant"} + command);
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.contains(QStringLiteral("COM3, 9600 бод")), qPrintable(r.err));
        QCOMPARE(saved(), savedAfter);
    }

    void savedPortIsUsed()
    {
        save(QStringLiteral("COMPORT/COM"), QStringLiteral("7"));
        save(QStringLiteral("PORTS/COM7"), QStringLiteral("/dev/does-not-exist-7"));
        Run r = run({QStringLiteral("link")});
        QCOMPARE(r.lines, QStringList{kPortError});
        QCOMPARE(r.status, 6);
        QVERIFY2(r.err.contains(QStringLiteral("/dev/does-not-exist-7")), qPrintable(r.err));

        r = run({QStringLiteral("--port"), QStringLiteral("/dev/does-not-exist-given"), QStringLiteral("link")});
        QVERIFY2(r.err.contains(QStringLiteral("/dev/does-not-exist-given")), qPrintable(r.err));
        QVERIFY(!r.err.contains(QStringLiteral("/dev/does-not-exist-7")));
        QCOMPARE(saved(), (QStringList{"COMPORT/COM=7", "PORTS/COM7=/dev/does-not-exist-7"}));
    }

    void portNotOpen_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("reason");

        const QStringList absent = {QStringLiteral("--port"), QStringLiteral("/dev/does-not-exist")};
        QTest::newRow("link") << absent + QStringList{"link"} << "/dev/does-not-exist";
        QTest::newRow("block") << absent + QStringList{"block", "3"} << "/dev/does-not-exist";
        QTest::newRow("scan") << absent + QStringList{"scan"} << "/dev/does-not-exist";
        QTest::newRow("unplugged") << QStringList{"--simulate=unplugged", "--instant", "block", "3"} << "unplugged";
    }

    void portNotOpen()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, reason);

        const Run r = run(args);
        QCOMPARE(r.out, QByteArray("Ошибка открытия порта!!!\n"));
        QCOMPARE(r.status, 6);
        QVERIFY2(r.err.contains(reason), qPrintable(r.err));
        QCOMPARE(saved(), QStringList());
    }

    void badArguments_data()
    {
        QTest::addColumn<QStringList>("args");

        QTest::newRow("no command") << QStringList{};
        QTest::newRow("unknown command") << QStringList{"check"};
        QTest::newRow("block without number") << QStringList{"block"};
        QTest::newRow("block 0") << QStringList{"block", "0"};
        QTest::newRow("block 33") << QStringList{"block", "33"};
        QTest::newRow("block -3") << QStringList{"block", "-3"};
        QTest::newRow("block not a number") << QStringList{"block", "5x"};
        QTest::newRow("block twice") << QStringList{"block", "5", "6"};
        QTest::newRow("extra after link") << QStringList{"link", "now"};
        QTest::newRow("extra after scan") << QStringList{"scan", "1"};
        QTest::newRow("baud not a number") << QStringList{"--baud", "fast", "link"};
        QTest::newRow("baud 0") << QStringList{"--baud=0", "link"};
        QTest::newRow("baud too big") << QStringList{"--baud", "99999999999", "link"};
        QTest::newRow("port 0") << QStringList{"--port", "0", "link"};
        QTest::newRow("port 256") << QStringList{"--port", "256", "link"};
        QTest::newRow("port a word") << QStringList{"--port", "modem", "link"};
        QTest::newRow("port without value") << QStringList{"link", "--port"};
        QTest::newRow("bad scenario") << QStringList{"--simulate=sunny", "link"};
        QTest::newRow("bad block list") << QStringList{"--simulate=blocks=0-40", "link"};
        QTest::newRow("instant on a real port") << QStringList{"--instant", "link"};
        QTest::newRow("unknown option") << QStringList{"--verbose", "link"};
    }

    void badArguments()
    {
        QFETCH(QStringList, args);

        const Run r = run(args);
        QCOMPARE(r.status, 64);
        QCOMPARE(r.out, QByteArray());
        QVERIFY(!r.err.trimmed().isEmpty());
        QCOMPARE(saved(), QStringList());
    }

    // The one run in real time: the fixed waits are kept, and not by much more.
    void realTimeLinkTest()
    {
        const Run r = run({QStringLiteral("--simulate"), QStringLiteral("link")});
        QCOMPARE(r.lines, kLinkGood);
        QCOMPARE(r.status, 0);
        QVERIFY2(r.ms >= 1500 && r.ms < 1800, qPrintable(QString::number(r.ms)));
    }
};

QTEST_GUILESS_MAIN(TestCheckCli)
#include "tst_checkcli.moc"
