// The block map's statistics, the watch over the installation and the report
// handed over on site.
#include "checks/blockstatistics.h"
#include "checks/watch.h"
#include "report/installationreport.h"
#include "testsupport.h"

#include <QFontDatabase>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

class TestBlockMap : public QObject
{
    Q_OBJECT

private slots:
    void stateOfABlock_data();
    void stateOfABlock();
    void watchStopsAfterTheBlockUnderWay();
    void watchLosesItsPort_data();
    void watchLosesItsPort();
    void csvForARussianSpreadsheet();
    void pdfCarriesItsTextAndFonts();
};

namespace {

BlockReading reading(int number, bool answered, qint64 ms = 0)
{
    BlockReading r;
    r.number = number;
    r.answered = answered;
    r.ms = ms;
    return r;
}

// Block 1 answered 40 and 50 ms, block 2 answered once in two (30 ms), block 3 never, of an installation of 1-3.
BlockStatistics sample()
{
    BlockStatistics statistics;
    statistics.setInstalled({1, 2, 3});
    const QDateTime at(QDate(2026, 3, 5), QTime(14, 7, 9));
    statistics.add(reading(1, true, 40), at);
    statistics.add(reading(1, true, 50), at.addSecs(1));
    statistics.add(reading(2, true, 30), at);
    statistics.add(reading(2, false), at);
    statistics.add(reading(3, false), at);
    statistics.addRound();
    statistics.addLinkTest(0);
    return statistics;
}

} // namespace

void TestBlockMap::stateOfABlock_data()
{
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QList<bool>>("answers");
    QTest::addColumn<QString>("description");

    QTest::newRow("never asked") << true << QList<bool>{} << "Блок 7: не опрошен";
    QTest::newRow("answered every time") << true << QList<bool>{true, true} << "Блок 7: отвечает, ответил 2 из 2, 12 мс";
    QTest::newRow("answered some of the times") << true << QList<bool>{true, false, true}
                                                << "Блок 7: с перебоями, ответил 2 из 3, 12 мс";
    QTest::newRow("missed once at the end") << true << QList<bool>{true, false} << "Блок 7: с перебоями, ответил 1 из 2, 12 мс";
    QTest::newRow("never answered") << true << QList<bool>{false, false} << "Блок 7: не отвечает, ответил 0 из 2";
    QTest::newRow("outside the installation") << false << QList<bool>{} << "Блок 7: не установлен";
    QTest::newRow("outside, yet checked by hand") << false << QList<bool>{true} << "Блок 7: отвечает, ответил 1 из 1, 12 мс";
}

void TestBlockMap::stateOfABlock()
{
    QFETCH(bool, installed);
    QFETCH(QList<bool>, answers);
    QFETCH(QString, description);
    BlockStatistics statistics;
    statistics.setInstalled(installed ? QList<int>{1, 7} : QList<int>{1, 2});
    for (const bool answered : answers)
        statistics.add(reading(7, answered, 12), QDateTime::currentDateTime());
    QCOMPARE(statistics.description(7), description);
    statistics.clear();
    QCOMPARE(statistics.description(7), installed ? QStringLiteral("Блок 7: не опрошен") : QStringLiteral("Блок 7: не установлен"));
}

void TestBlockMap::watchStopsAfterTheBlockUnderWay()
{
    CheckRig rig("blocks=1-3,5-8");
    rig.openPort();
    BlockStatistics statistics;
    statistics.setInstalled({1, 2, 3, 4, 5, 6, 7, 8});
    InstallationWatch watch(rig.session, rig.panel, statistics);
    // Told to stop in the fifth round, while block 3 is asked.
    int roundsSeen = 0;
    watch.onChange = [&](int block) {
        if (block == 0)
            ++roundsSeen;
        if (roundsSeen == 5 && block == 2)
            rig.clock.callAt(rig.clock.now() + 10, &rig.port, [&watch] { watch.requestStop(); });
    };
    const InstallationWatch::Result result = watch.run();

    QVERIFY(result.stopped);
    QCOMPARE(result.rounds, 5);
    QCOMPARE(statistics.tally(3).asked, 5);
    QCOMPARE(statistics.tally(4).asked, 4);
    // Five rounds of a steady installation: the log has what the first one found, nothing per round.
    QCOMPARE(rig.panel.lines, (QStringList{"Наблюдение за установкой: блоки 1-8", "Круг 1: связь в порядке",
                                           "Круг 1: Отвечают блоки: 1-3, 5-8 (7 из 8)",
                                           "Наблюдение остановлено, кругов: 5"}));
}

void TestBlockMap::watchLosesItsPort_data()
{
    QTest::addColumn<qint64>("unplugAtMs");
    QTest::addColumn<QStringList>("lines");
    const QString lost = LineTests::kPortLost;
    const QString start = QStringLiteral("Наблюдение за установкой: блоки 1-32");
    QTest::newRow("during the first link test") << qint64(500) << QStringList{start, lost};
    // The link test has its reply at about 1.04 s; the blocks are asked after it.
    QTest::newRow("among the blocks") << qint64(1100) << QStringList{start, "Круг 1: связь в порядке", lost};
}

void TestBlockMap::watchLosesItsPort()
{
    QFETCH(qint64, unplugAtMs);
    CheckRig rig;
    rig.openPort();
    BlockStatistics statistics;
    InstallationWatch watch(rig.session, rig.panel, statistics);
    rig.clock.callAt(unplugAtMs, &rig.port, [&rig] { rig.port.setUnplugged(true); });
    const InstallationWatch::Result result = watch.run();
    QVERIFY(result.portLost);
    QCOMPARE(result.rounds, 1);
    QTEST(rig.panel.lines, "lines");
}

void TestBlockMap::csvForARussianSpreadsheet()
{
    const QByteArray expected = "\xEF\xBB\xBF"
                                "Блок;Состояние;Ответил;Опрошен;Мин. мс;Сред. мс;Макс. мс;Последний ответ\r\n"
                                "1;отвечает;2;2;40;45;50;05.03.2026 14:07:10\r\n"
                                "2;с перебоями;1;2;30;30;30;05.03.2026 14:07:09\r\n"
                                "3;не отвечает;0;1;;;;\r\n";
    QCOMPARE(InstallationReport::csv(sample()), expected);
}

void TestBlockMap::pdfCarriesItsTextAndFonts()
{
    // Qt's minimal platform (a Windows build's tests under Wine) knows no fonts to embed.
    if (QFontDatabase::families().isEmpty())
        QSKIP("this platform plugin has no fonts");
    InstallationReport::Header header;
    header.object = QStringLiteral("Элеватор №3");
    header.technician = QStringLiteral("Иванов");
    BlockStatistics all = sample();
    all.setInstalled([] { QList<int> b; for (int n = 1; n <= 32; ++n) b << n; return b; }());
    const QByteArray pdf = InstallationReport::pdf(header, all);
    QVERIFY(pdf.startsWith("%PDF-"));
    QVERIFY(pdf.trimmed().endsWith("%%EOF"));
    // The fonts go with it, so Cyrillic reads the same in any viewer.
    QVERIFY(pdf.contains("/FontFile2"));
    // At most two pages for 32 blocks.
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page[^s]"));
    const qsizetype pages = QString::fromLatin1(pdf).count(page);
    QVERIFY2(pages >= 1 && pages <= 2, qPrintable(QString::number(pages)));

    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (pdftotext.isEmpty())
        QSKIP("pdftotext is not installed: the text is not read back");
    QProcess reader;
    reader.start(pdftotext, {QStringLiteral("-"), QStringLiteral("-")});
    reader.write(pdf);
    reader.closeWriteChannel();
    QVERIFY(reader.waitForFinished(20000));
    const QString text = QString::fromUtf8(reader.readAllStandardOutput());
    QVERIFY2(text.contains(QStringLiteral("Элеватор №3")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("с перебоями")));
    QVERIFY(text.contains(QStringLiteral("не установлен")) || text.contains(QStringLiteral("не опрошен")));
}

QTEST_MAIN(TestBlockMap)
#include "tst_blockmap.moc"
