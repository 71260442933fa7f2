// The link test and the block check against a simulated installation: each
// outcome gives exactly its lines, in order, and returns what it found.
#include "checks/blockscan.h"
#include "checks/installationsearch.h"
#include "checks/linetests.h"
#include "link/clock.h"
#include "link/settings.h"
#include "link/wait.h"
#include "sim/simulatedport.h"
#include "expectedlines.h"
#include "testsupport.h"

#include <QTest>

namespace {

// The two lines that follow "Принято = [...]" when the БСУ answers.
const QStringList kSuccess = kLinkGood.mid(2);

// A rig with its port open, whose line can also be played by hand.
struct Rig : CheckRig
{
    explicit Rig(const QString &scenario = "ok") : CheckRig(scenario) { openPort(); }
    // Instead of the installation, the line brings these bytes 40 ms after
    // the link test's query (which goes out 1000 ms after the start).
    void replyToLinkTest(const QByteArray &bytes)
    {
        installation.scenario().lineBreak = true;
        clock.callAt(clock.now() + 1040, &port, [this, bytes] { port.arrive(bytes); });
    }
};

} // namespace

class TestChecks : public QObject
{
    Q_OBJECT

private slots:
    void fastScanWritesTheLinesOfAFullWaitsScan_data();
    void fastScanWritesTheLinesOfAFullWaitsScan();
    void scanStopsAfterTheCurrentBlock();
    void repeatedScansCountAnIntermittentBlock();
    void linkTestVerdicts_data();
    void linkTestVerdicts();
    void linkTestReadsOnlyTheFirstLine_data();
    void linkTestReadsOnlyTheFirstLine();
    void closedPortGivesOneLine();
    void blockCheckVerdicts_data();
    void blockCheckVerdicts();
    void blockCheckAfterAFailedLink();
    void blockCheckWithNothingSelected();
    void linkTestDuringABlockQueryTakesItsReply();
    void portPulledMidCheckLeavesNoVerdict_data();
    void portPulledMidCheckLeavesNoVerdict();
    void searchPulledMidProbeFindsNothing_data();
    void searchPulledMidProbeFindsNothing();
    void searchChangesRatesOnTheOpenPort_data();
    void searchChangesRatesOnTheOpenPort();
};

void TestChecks::linkTestVerdicts_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<bool>("quiet");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("verdict");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<int>("ms");

    // Quiet is the block check's own link test (block 0 is refused after it, nothing more is sent).
    const QByteArray query = "#0002\r\n";
    QTest::newRow("good link") << "ok" << false
                               << kLinkGood << 0 << query << 1500;
    QTest::newRow("good link, quiet") << "ok" << true << QStringList() << 0 << query << 1500;
    QTest::newRow("no cable") << "no-cable" << false << kError1 << 1 << QByteArray() << 1000;
    QTest::newRow("no cable, no power") << "no-cable,no-power" << true << kError1 << 1 << QByteArray() << 1000;
    QTest::newRow("no power") << "no-power" << false << kError2 << 2 << QByteArray() << 1000;
    QTest::newRow("line broken") << "line-break" << false << (QStringList{kBsFound, "Принято = []"} + kError3)
                                 << 3 << query << 1500;
    QTest::newRow("line broken, quiet") << "line-break" << true << kError3 << 3 << query << 1500;
    QTest::newRow("БСУ off: echo") << "bsu-off" << false << (QStringList{kBsFound, "Принято = [#0002]"} + kError4)
                                   << 4 << query << 1500;
    QTest::newRow("БСУ off, quiet") << "bsu-off" << true << kError4 << 4 << query << 1500;
    QTest::newRow("late reply") << "late" << false << (QStringList{kBsFound, "Принято = []"} + kError3) << 3
                                << query << 1500;
    QTest::newRow("noisy line") << "noise" << false << (QStringList{kBsFound, "Принято = [??@00BSU]"} + kSuccess)
                                << 0 << query << 1500;
}

void TestChecks::linkTestVerdicts()
{
    QFETCH(QString, scenario);
    QFETCH(bool, quiet);
    QFETCH(QByteArray, sent);
    Rig rig(scenario);
    rig.port.setDtr(false);
    rig.port.setRts(true);

    const qint64 start = rig.clock.now();
    const LinkResult link = quiet ? rig.tests.blockCheck(0, ReplyEnd::FullWait).link
                                  : rig.tests.linkTest(ReplyEnd::FullWait);

    QTEST(link.lines, "lines");
    QCOMPARE(rig.panel.lines.mid(0, link.lines.size()), link.lines);
    QTEST(link.verdict, "verdict");
    QCOMPARE(link.ms, sent.isEmpty() ? 0 : 500);
    QCOMPARE(rig.port.written(), sent);
    QTEST(int(rig.clock.now() - start), "ms");
    QVERIFY(rig.port.dtr());
    QVERIFY(!rig.port.rts());
    QVERIFY(rig.panel.linkTestEnabled);

    // A second run starts afresh from its own findings.
    rig.installation.scenario() = *Scenario::parse("no-power");
    rig.panel.lines.clear();
    const LinkResult again = rig.tests.linkTest(ReplyEnd::FullWait);
    QCOMPARE(rig.panel.lines, kError2);
    QCOMPARE(again.verdict, 2);
    QCOMPARE(again.reply, QString());
}

void TestChecks::linkTestReadsOnlyTheFirstLine_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("linkOk");
    QTest::addColumn<QStringList>("diagnosis");

    QTest::newRow("echo, identity after CR") << QByteArray("#0002\r\n@00BSU\r\n") << "#0002" << false << kError4;
    QTest::newRow("echo and identity on one line") << QByteArray("@00BSU #0002\r\n") << "@00BSU #0002" << false
                                                   << kError4;
    QTest::newRow("identity among other text") << QByteArray("xx@00BSUyy\r\n") << "xx@00BSUyy" << true << kSuccess;
    QTest::newRow("identity without CR") << QByteArray("@00BSU\n") << "@00BSU?" << true << kSuccess;
    QTest::newRow("lower case") << QByteArray("@00bsu\r\n") << "@00bsu" << false << kError3;
    QTest::newRow("broken marker") << QByteArray("@00B\x01SU\r\n") << "@00B?SU" << false << kError3;
    QTest::newRow("begins with CR") << QByteArray("\r@00BSU\r\n") << "" << false << kError3;
    QTest::newRow("identity only after CR") << QByteArray("ok\r@00BSU") << "ok" << false << kError3;
}

void TestChecks::linkTestReadsOnlyTheFirstLine()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, shown);
    QFETCH(QStringList, diagnosis);
    QFETCH(bool, linkOk);
    Rig rig;
    rig.replyToLinkTest(reply);
    const LinkResult link = rig.tests.linkTest(ReplyEnd::FullWait);
    QCOMPARE(rig.panel.lines, QStringList({kBsFound, "Принято = [" + shown + "]"}) + diagnosis);
    QCOMPARE(link.reply, shown);
    QCOMPARE(link.verdict == LineTests::LinkGood, linkOk);
}

void TestChecks::closedPortGivesOneLine()
{
    Rig rig("unplugged");
    QVERIFY(!rig.port.isOpen());
    rig.store->save({"NBLOCK", "BLOCK", "7"});
    rig.state.blockNumber = 7;

    const LinkResult link = rig.tests.linkTest(ReplyEnd::FullWait);
    QCOMPARE(rig.panel.lines, QStringList{"Ошибка открытия порта!!!"});
    QCOMPARE(link.lines, rig.panel.lines);
    QCOMPARE(link.verdict, int(LineTests::PortNotOpen));
    QVERIFY(!rig.port.dtr());
    QVERIFY(rig.port.written().isEmpty());
    // The button comes back, so the check can be run again once the port is put right.
    QVERIFY(rig.panel.linkTestEnabled);

    rig.panel.lines.clear();
    rig.panel.linkTestEnabled = false;
    const BlockCheckResult checked = rig.tests.blockCheck(3, ReplyEnd::FullWait);
    QCOMPARE(rig.panel.lines, QStringList{"Ошибка открытия порта!!!"});
    QCOMPARE(checked.link.lines, rig.panel.lines);
    QCOMPARE(checked.link.verdict, int(LineTests::PortNotOpen));
    QCOMPARE(checked.block.number, 0);
    QVERIFY(rig.panel.blockCheckEnabled);
    QVERIFY(!rig.panel.linkTestEnabled);   // the link test did not run
    QCOMPARE(rig.state.blockNumber, qint16(7));
    QCOMPARE(readSetting(*rig.store, "NBLOCK", "BLOCK", ""), QString("7"));
    QCOMPARE(rig.clock.now(), qint64(0));
}

void TestChecks::blockCheckVerdicts_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("block");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("block 1") << "ok" << 1
                             << QStringList{"1: Запрос = [#0102]", "1: Принято = [@01T+18.5]",
                                            "1: Тестирование прошло успешно, блок отвечает"};
    QTest::newRow("block 10") << "ok" << 10
                              << QStringList{"10: Запрос = [#0A02]", "10: Принято = [@0AT+23.0]",
                                             "10: Тестирование прошло успешно, блок отвечает"};
    QTest::newRow("block 16") << "ok" << 16
                              << QStringList{"16: Запрос = [#1002]", "16: Принято = [@10T+26.0]",
                                             "16: Тестирование прошло успешно, блок отвечает"};
    QTest::newRow("block 32") << "ok" << 32
                              << QStringList{"32: Запрос = [#2002]", "32: Принято = [@20T+34.0]",
                                             "32: Тестирование прошло успешно, блок отвечает"};
    QTest::newRow("absent block") << "blocks=1-4,6" << 5
                                  << QStringList{"5: Запрос = [#0502]", "5: Принято = []",
                                                 "5: Нет ответа от блока номер 5 ?"};
    QTest::newRow("late replies: the link fails first") << "late" << 5 << kError3;
    QTest::newRow("link fails: error 2 only") << "no-power" << 5 << kError2;
    QTest::newRow("link fails: error 4 only") << "bsu-off" << 5 << kError4;
}

void TestChecks::blockCheckVerdicts()
{
    QFETCH(QString, scenario);
    QFETCH(int, block);
    QFETCH(QStringList, lines);
    Rig rig(scenario);
    rig.store->save({"NBLOCK", "BLOCK", "3"});
    rig.state.blockNumber = 3;
    const bool linkGood = lines.first().startsWith(QString::number(block) + ":");

    const qint64 start = rig.clock.now();
    const BlockCheckResult checked = rig.tests.blockCheck(block, ReplyEnd::FullWait);

    QCOMPARE(rig.panel.lines, lines);
    QCOMPARE(checked.link.lines + checked.block.lines, lines);
    QCOMPARE(checked.link.verdict == LineTests::LinkGood, linkGood);
    QCOMPARE(checked.block.number, linkGood ? block : 0);
    QCOMPARE(checked.block.answered, lines.last().endsWith("блок отвечает"));
    QVERIFY(rig.panel.blockCheckEnabled);
    QVERIFY(rig.panel.linkTestEnabled);
    // Saved only when the block was queried; never when the link failed.
    QCOMPARE(readSetting(*rig.store, "NBLOCK", "BLOCK", ""), linkGood ? QString::number(block) : QString("3"));
    QCOMPARE(int(rig.state.blockNumber), linkGood ? block : 3);
    if (linkGood) {
        QCOMPARE(rig.clock.now() - start, qint64(2500));
        QCOMPARE(checked.block.ms, qint64(1000));
    }
}

void TestChecks::blockCheckAfterAFailedLink()
{
    Rig rig("no-power");
    QCOMPARE(rig.tests.blockCheck(5, ReplyEnd::FullWait).link.verdict, 2);
    QCOMPARE(rig.panel.lines, kError2);

    // Power is back: the operator runs the link test, which now writes everything.
    rig.installation.scenario().power = true;
    rig.panel.lines.clear();
    rig.tests.linkTest(ReplyEnd::FullWait);
    QCOMPARE(rig.panel.lines, kLinkGood);

    // Two block checks in a row: the second number is the one saved and shown.
    rig.panel.lines.clear();
    rig.tests.blockCheck(5, ReplyEnd::FullWait);
    rig.tests.blockCheck(9, ReplyEnd::FullWait);
    QCOMPARE(rig.panel.lines.size(), 6);
    QVERIFY(rig.panel.lines.at(3).startsWith("9: Запрос = [#0902]"));
    QCOMPARE(readSetting(*rig.store, "NBLOCK", "BLOCK", ""), QString("9"));
}

void TestChecks::blockCheckWithNothingSelected()
{
    Rig rig;
    rig.store->save({"NBLOCK", "BLOCK", "4"});
    const BlockCheckResult checked = rig.tests.blockCheck(0, ReplyEnd::FullWait);
    // Block 0 would be the БСУ's own address, whose identity reply holds @00: it is never queried.
    QCOMPARE(rig.panel.lines, (QStringList{"Не выбран блок: выберите номер от 1 до 32"}));
    QCOMPARE(rig.port.written(), QByteArray("#0002\r\n"));
    QCOMPARE(readSetting(*rig.store, "NBLOCK", "BLOCK", ""), QString("4"));
    QCOMPARE(checked.block.number, 0);
    QVERIFY(!checked.block.answered);
}

void TestChecks::linkTestDuringABlockQueryTakesItsReply()
{
    Rig rig;
    LinkResult nested;
    // 1500 ms in, the block query is waiting; the link test is started from outside.
    rig.clock.callAt(1700, &rig.port, [&] {
        QVERIFY(rig.panel.linkTestEnabled);
        nested = rig.tests.linkTest(ReplyEnd::FullWait);
    });
    const BlockCheckResult checked = rig.tests.blockCheck(2, ReplyEnd::FullWait);
    // The nested link test has its own whole result; its exchange took the
    // block's reply away, so the block check finds no answer.
    QCOMPARE(nested.verdict, int(LineTests::LinkGood));
    QCOMPARE(rig.panel.lines, (QStringList{"2: Запрос = [#0202]"} + kLinkGood
                               + QStringList{"2: Принято = []", "2: Нет ответа от блока номер 2 ?"}));
    QVERIFY(!checked.block.answered);
}

void TestChecks::fastScanWritesTheLinesOfAFullWaitsScan_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("answering");
    for (const char *scenario : {"ok", "blocks=1-5,9", "bsu-off", "line-break", "late"})
        QTest::newRow(scenario) << scenario << (QByteArray(scenario) == "ok" ? 32 : QByteArray(scenario) == "blocks=1-5,9" ? 6 : 0);
}

void TestChecks::fastScanWritesTheLinesOfAFullWaitsScan()
{
    QFETCH(QString, scenario);
    QFETCH(int, answering);
    Rig full(scenario);
    Rig fast(scenario);
    const ScanRound fullRound = BlockScan(full.tests, full.port, full.panel).run(ReplyEnd::FullWait);
    const ScanRound fastRound = BlockScan(fast.tests, fast.port, fast.panel).run(ReplyEnd::AtFirstCr);
    QCOMPARE(fast.panel.lines, full.panel.lines);
    QCOMPARE(fastRound.answered().size(), answering);
    QCOMPARE(fastRound.link.verdict, fullRound.link.verdict);
    QCOMPARE(fastRound.link.reply, fullRound.link.reply);
    // The link test's wait ends as the round's do.
    QCOMPARE(fullRound.link.ms, qint64(500));
    if (scenario == "ok")
        QVERIFY2(fastRound.link.ms < 100, qPrintable(QString::number(fastRound.link.ms)));
    for (const BlockReading &block : fastRound.blocks) {
        // A block that does not answer still gets its full second; one that does, far less.
        if (block.answered)
            QVERIFY2(block.ms < 100, qPrintable(QString::number(block.ms)));
        else
            QCOMPARE(block.ms, qint64(1000));
    }
    QVERIFY(fast.clock.now() <= full.clock.now());
}

void TestChecks::scanStopsAfterTheCurrentBlock()
{
    Rig rig("blocks=1-2,4");
    BlockScan scan(rig.tests, rig.port, rig.panel);
    // Blocks 1 and 2 answer within 1150 ms; asked at 1600, while silent block 3 has its second.
    rig.clock.callAt(1600, &rig.port, [&] { scan.requestStop(); });
    const ScanRound round = scan.run(ReplyEnd::AtFirstCr);
    QVERIFY(round.stopped);
    QCOMPARE(round.blocks.size(), 3);
    QCOMPARE(rig.panel.lines.mid(4 + 6), (QStringList{"3: Запрос = [#0302]", "3: Принято = []",
                                                      "3: Нет ответа от блока номер 3 ?",
                                                      "Проверка остановлена", "Отвечают блоки: 1-2 (2 из 3)"}));
    QVERIFY(!rig.port.written().contains("#0402"));
    // The next scan is a whole one again.
    rig.panel.lines.clear();
    const ScanRound next = scan.run(ReplyEnd::AtFirstCr);
    QVERIFY(!next.stopped);
    QCOMPARE(rig.panel.lines.last(), QStringLiteral("Отвечают блоки: 1-2, 4 (3 из 32)"));
}

void TestChecks::repeatedScansCountAnIntermittentBlock()
{
    Rig rig("blocks=1-10,flaky=5");
    BlockScan scan(rig.tests, rig.port, rig.panel);
    ScanTally tally;
    QStringList summaries;
    for (int n = 1; n <= 3; ++n) {
        tally.add(scan.run(ReplyEnd::AtFirstCr, QStringLiteral("Круг %1: ").arg(n)));
        summaries << rig.panel.lines.last();
    }
    QCOMPARE(summaries, (QStringList{"Круг 1: Отвечают блоки: 1-10 (10 из 32)",
                                     "Круг 2: Отвечают блоки: 1-4, 6-10 (9 из 32)",
                                     "Круг 3: Отвечают блоки: 1-10 (10 из 32)"}));
    QVERIFY(!tally.allAnswered());
    // Blocks that never answer are listed too: they missed every round.
    QStringList expected{"Блок 5: ответил 2 из 3 (66 %)"};
    for (int n = 11; n <= 32; ++n)
        expected << QStringLiteral("Блок %1: ответил 0 из 3 (0 %)").arg(n);
    QCOMPARE(tally.lines(), expected);

    ScanTally steady;
    Rig ok;
    BlockScan okScan(ok.tests, ok.port, ok.panel);
    steady.add(okScan.run(ReplyEnd::AtFirstCr));
    steady.add(okScan.run(ReplyEnd::AtFirstCr));
    QVERIFY(steady.allAnswered());
    QCOMPARE(steady.lines(), QStringList{"Каждый опрошенный блок ответил в каждом круге"});
}

void TestChecks::searchChangesRatesOnTheOpenPort_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("savedRate");
    QTest::addColumn<int>("highestRate");
    QTest::addColumn<QStringList>("lines");

    const QString silent = "COM5: БС подключён и включён, но БСУ не ответил ни на одной скорости ";
    const QString refused = "COM5: скорость 256000 бод не поддерживается портом";
    QTest::newRow("every rate") << "line-break" << 4800 << 256000
                                << QStringList{silent + "(4800, 2400, 9600, 19200, 38400, 57600, 115200, 256000 бод)",
                                               "Установка не найдена"};
    QTest::newRow("a built-in port") << "line-break" << 4800 << 115200
                                     << QStringList{refused,
                                                    silent + "(4800, 2400, 9600, 19200, 38400, 57600, 115200 бод)",
                                                    "Установка не найдена"};
    QTest::newRow("the saved rate refused") << "ok" << 256000 << 115200
                                            << QStringList{refused,
                                                           "COM5: БСУ отвечает на скорости 2400 бод, принято = [@00BSU]",
                                                           "Установка найдена: COM5, 2400 бод"};
}

void TestChecks::searchChangesRatesOnTheOpenPort()
{
    QFETCH(QString, scenario);
    QFETCH(int, savedRate);
    QFETCH(int, highestRate);
    QFETCH(QStringList, lines);
    CheckRig rig(scenario);
    rig.port.setHighestRate(highestRate);
    SearchCandidate candidate;
    candidate.device = "COM5";
    InstallationSearch(rig.port, rig.watch, rig.panel).run({candidate}, savedRate);
    QCOMPARE(rig.panel.lines, lines);
    // One opening for all the rates: DTR is never dropped between them.
    QCOMPARE(rig.port.openCount(), 1);
}

void TestChecks::portPulledMidCheckLeavesNoVerdict_data()
{
    const QString lost = QStringLiteral("Порт закрылся во время проверки (адаптер отключён?): её итог недостоверен");
    QTest::addColumn<QString>("check");
    QTest::addColumn<int>("pullAtMs");
    QTest::addColumn<QStringList>("lines");
    // The link test reads the lines at 1000 ms and awaits the БСУ until 1500;
    // the block check's query goes out at 1500; in a scan block 3 is asked at 1150.
    QTest::newRow("link test, lines settling") << "link" << 500 << QStringList{lost};
    QTest::newRow("link test, reply awaited") << "link" << 1200 << QStringList{kBsFound, lost};
    QTest::newRow("block check, reply awaited") << "block" << 2000 << QStringList{"7: Запрос = [#0702]", lost};
    QTest::newRow("scan, third block awaited")
        << "scan" << 1600
        << kLinkGood + blockLines(1, "01", "@01T+18.5", true) + blockLines(2, "02", "@02T+19.0", true)
               + QStringList{"3: Запрос = [#0302]", "Отвечают блоки: 1-2 (2 из 2)", lost};
}

void TestChecks::portPulledMidCheckLeavesNoVerdict()
{
    QFETCH(QString, check);
    QFETCH(int, pullAtMs);
    QFETCH(QStringList, lines);
    Rig rig("blocks=1-2,7");
    rig.clock.callAt(pullAtMs, &rig.port, [&] { rig.port.setUnplugged(true); });
    bool noVerdict = false;
    if (check == "link") {
        noVerdict = rig.tests.linkTest(ReplyEnd::FullWait).verdict == LineTests::PortLost;
    } else if (check == "block") {
        const BlockCheckResult checked = rig.tests.blockCheck(7, ReplyEnd::FullWait);
        noVerdict = checked.block.portLost && checked.block.lines == lines;
    } else {
        const ScanRound round = BlockScan(rig.tests, rig.port, rig.panel).run(ReplyEnd::AtFirstCr);
        noVerdict = round.portLost && round.blocks.size() == 2;
    }
    QCOMPARE(rig.panel.lines, lines);
    QVERIFY(noVerdict);
}

// Lines off, or no reply, on a port that went away: neither "no cable" nor
// "silent" is said. The probe reads the lines at 1000 ms, then queries.
void TestChecks::searchPulledMidProbeFindsNothing_data()
{
    QTest::addColumn<int>("pullAtMs");
    QTest::newRow("lines settling") << 500;
    QTest::newRow("reply awaited") << 1010;
}

void TestChecks::searchPulledMidProbeFindsNothing()
{
    QFETCH(int, pullAtMs);
    CheckRig rig;
    rig.clock.callAt(pullAtMs, &rig.port, [&] { rig.port.setUnplugged(true); });
    SearchCandidate candidate;
    candidate.device = "/dev/ttyUSB0";
    const SearchResult result = InstallationSearch(rig.port, rig.watch, rig.panel).run({candidate}, 4800);
    QCOMPARE(int(result.candidates.constFirst().outcome), int(SearchCandidate::Outcome::PortLost));
}

QTEST_GUILESS_MAIN(TestChecks)
#include "tst_checks.moc"
