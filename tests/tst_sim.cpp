#include "link/clock.h"
#include "sim/scenario.h"
#include "sim/simulatedinstallation.h"
#include "sim/simulatedport.h"

#include <QSignalSpy>
#include <QTest>

#include <algorithm>

using Bytes = QByteArray;

namespace {

// An installation on the bench behind an open simulated port, in virtual time.
struct Bench
{
    ManualClock clock;
    SimulatedInstallation installation;
    SimulatedPort port{installation, clock};

    explicit Bench(const QString &scenario = QString(), int baud = 9600)
        : installation(*Scenario::parse(scenario))
    {
        port.open(QStringLiteral("COM1"), baud);
    }
    // What arrives within waitMs of sending the line, as a command exchange sees it.
    Bytes ask(const Bytes &line, qint64 waitMs = 1000)
    {
        port.readAll();
        port.write(line + "\r\n");
        clock.advance(waitMs);
        return port.readAll();
    }
};

constexpr qint64 kLatency = SimulatedInstallation::kLatencyMs;

} // namespace

class TestSim : public QObject
{
    Q_OBJECT
private slots:
    void scenarioText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("canonical");
        QTest::newRow("empty") << "" << "ok";
        QTest::newRow("spaces and case") << " Noise , late " << "noise,late";
        QTest::newRow("every fault") << "unplugged,late,noise,bsu-off,line-break,no-power,no-cable"
                                     << "no-cable,no-power,line-break,bsu-off,noise,late,unplugged";
        QTest::newRow("block list") << "blocks=9,1-5,noise" << "blocks=1-5,9,noise";
        QTest::newRow("blocks in two words") << "blocks=3,late,blocks=4" << "blocks=3-4,late";
        QTest::newRow("all blocks") << "ok,blocks=1-32" << "ok";
        QTest::newRow("no blocks") << "blocks=none,no-power" << "no-power,blocks=none";
    }
    void scenarioText()
    {
        QFETCH(QString, text);
        QFETCH(QString, canonical);
        QCOMPARE(Scenario::parse(text)->toString(), canonical);
        QCOMPARE(Scenario::parse(canonical)->toString(), canonical);
    }

    void badScenarioText()
    {
        for (const char *text : {"noise,nosie", "blocks=0", "blocks=1,33", "blocks=5-3", "blocks=1-", "blocks=1.5",
                                 "blocks=,late", "noise,5", "blocks=none,4"}) {
            QString error;
            QVERIFY2(!Scenario::parse(QString::fromUtf8(text), &error), text);
            QVERIFY2(!error.isEmpty(), text);
        }
    }

    void replies_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<Bytes>("line");
        QTest::addColumn<Bytes>("reply");
        QTest::addColumn<bool>("dsr");
        QTest::addColumn<bool>("cts");
        QTest::newRow("БСУ") << "ok" << Bytes("#0002") << Bytes("@00BSU\r\n") << true << true;
        QTest::newRow("block 5") << "ok" << Bytes("#0502") << Bytes("@05T+20.5\r\n") << true << true;
        QTest::newRow("block 10") << "ok" << Bytes("#0A02") << Bytes("@0AT+23.0\r\n") << true << true;
        QTest::newRow("block 32") << "ok" << Bytes("#2002") << Bytes("@20T+34.0\r\n") << true << true;
        QTest::newRow("absent block") << "blocks=1-4" << Bytes("#0502") << Bytes() << true << true;
        QTest::newRow("no blocks, БСУ") << "blocks=none" << Bytes("#0002") << Bytes("@00BSU\r\n") << true << true;
        QTest::newRow("address 33") << "ok" << Bytes("#2102") << Bytes() << true << true;
        QTest::newRow("lower-case address") << "ok" << Bytes("#0a02") << Bytes() << true << true;
        QTest::newRow("unknown line") << "ok" << Bytes("#00BSU") << Bytes() << true << true;
        QTest::newRow("echo БСУ") << "bsu-off" << Bytes("#0002") << Bytes("#0002\r\n") << true << true;
        QTest::newRow("echo block") << "bsu-off,blocks=none" << Bytes("#0502") << Bytes("#0502\r\n") << true << true;
        QTest::newRow("line break") << "line-break,bsu-off" << Bytes("#0002") << Bytes() << true << true;
        QTest::newRow("no cable") << "no-cable" << Bytes("#0002") << Bytes() << false << false;
        QTest::newRow("no power") << "no-power,bsu-off" << Bytes("#0002") << Bytes() << true << false;
        QTest::newRow("late") << "late" << Bytes("#0002") << Bytes() << true << true;
    }
    void replies()
    {
        QFETCH(QString, scenario);
        QFETCH(Bytes, line);
        QFETCH(Bytes, reply);
        QFETCH(bool, dsr);
        QFETCH(bool, cts);
        Bench bench(scenario);
        QCOMPARE(bench.ask(line), reply);
        QCOMPARE(bench.port.written(), line + "\r\n");
        QCOMPARE(bench.port.dsr(), dsr);
        QCOMPARE(bench.port.cts(), cts);
        bench.port.close();
        QVERIFY(!bench.port.dsr() && !bench.port.cts());
    }

    void linesInPieces_data()
    {
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<Bytes>("reply");
        QTest::newRow("split") << QByteArrayList{"#0", "00", "2\r", "\n"} << Bytes("@00BSU\r\n");
        QTest::newRow("CR alone") << QByteArrayList{"#0002\r"} << Bytes("@00BSU\r\n");
        QTest::newRow("two in one write") << QByteArrayList{"#0002\r\n#0102\r\n"} << Bytes("@00BSU\r\n@01T+18.5\r\n");
        QTest::newRow("no line end") << QByteArrayList{"#0002"} << Bytes();
    }
    void linesInPieces()
    {
        QFETCH(QByteArrayList, pieces);
        QFETCH(Bytes, reply);
        Bench bench(QString(), 2400);
        for (const Bytes &piece : pieces) {
            bench.port.write(piece);
            bench.clock.advance(5);
        }
        bench.clock.advance(1000);
        QCOMPARE(bench.port.readAll(), reply);
    }

    void byteTiming_data()
    {
        QTest::addColumn<int>("baud");
        QTest::newRow("2400") << 2400;
        QTest::newRow("4800") << 4800;
        QTest::newRow("115200") << 115200;
    }
    void byteTiming()
    {
        QFETCH(int, baud);
        Bench bench(QString(), baud);
        const qint64 fullAt = kLatency + (8 * 10000 + baud - 1) / baud;   // "@00BSU" CR LF
        bench.port.write("#0002\r\n");
        bench.clock.advance(kLatency);
        QCOMPARE(bench.port.bytesWaiting(), qsizetype(0));
        bench.clock.advance(fullAt - 1 - kLatency);
        QVERIFY(bench.port.bytesWaiting() < 8);
        bench.clock.advance(1);
        QCOMPARE(bench.port.readAll(), Bytes("@00BSU\r\n"));
    }

    void lateReply()
    {
        Bench bench(QStringLiteral("late"));
        QCOMPARE(bench.ask("#0002"), Bytes());
        bench.clock.advance(SimulatedInstallation::kLateLatencyMs - 1000 + 20);
        QCOMPARE(bench.port.readAll(), Bytes("@00BSU\r\n"));
    }

    void noiseKeepsMarker_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<Bytes>("line");
        QTest::addColumn<Bytes>("marker");
        QTest::newRow("БСУ") << "noise" << Bytes("#0002") << Bytes("@00BSU");
        QTest::newRow("block") << "noise" << Bytes("#1F02") << Bytes("@1F");
        QTest::newRow("echo") << "noise,bsu-off" << Bytes("#0002") << Bytes("#0002");
    }
    void noiseKeepsMarker()
    {
        QFETCH(QString, scenario);
        QFETCH(Bytes, line);
        QFETCH(Bytes, marker);
        Bench bench(scenario);
        const Bytes reply = bench.ask(line, 500);
        const Bytes firstLine = reply.left(reply.indexOf('\r'));
        QVERIFY2(firstLine.contains(marker), firstLine.toHex(' ').constData());
        QVERIFY(std::any_of(firstLine.begin(), firstLine.end(), [](char c) { return uchar(c) < 0x20; }));
        bench.clock.advance(1000);   // junk between queries
        const Bytes junk = bench.port.readAll();
        QVERIFY(!junk.isEmpty() && !junk.contains('@') && !junk.contains('#'));
    }

    void unplugWhileOpen()
    {
        Bench bench;
        QSignalSpy lost(&bench.port, &SerialPort::lost);
        bench.port.write("#0002\r\n");
        bench.clock.advance(kLatency + 3);   // the reply is half way in
        bench.installation.scenario().unplugged = true;
        QVERIFY(!bench.port.isOpen());
        QCOMPARE(bench.port.bytesWaiting(), qsizetype(0));
        bench.port.write("#0102\r\n");
        bench.clock.advance(1000);
        QCOMPARE(bench.port.readAll(), Bytes());
        QVERIFY(!bench.port.dsr());
        QCOMPARE(bench.port.written(), Bytes("#0002\r\n"));
        QCOMPARE(lost.count(), 1);
        QVERIFY(!bench.port.open(QStringLiteral("COM1"), 9600));

        bench.port.setUnplugged(false);
        QVERIFY(bench.port.open(QStringLiteral("COM1"), 9600));
        QCOMPARE(bench.ask("#0002"), Bytes("@00BSU\r\n"));
        bench.port.setUnplugged(true);
        QCOMPARE(lost.count(), 2);
    }

    void reopenOrDestroyDropsBytesInFlight()
    {
        Bench bench;
        bench.port.write("#0002\r\n");
        bench.port.close();
        QVERIFY(bench.port.open(QStringLiteral("COM1"), 9600));
        bench.clock.advance(1000);
        QCOMPARE(bench.port.bytesWaiting(), qsizetype(0));

        auto *other = new SimulatedPort(bench.installation, bench.clock);
        other->open(QStringLiteral("COM1"), 9600);
        other->write("#0002\r\n");
        delete other;
        bench.clock.advance(1000);   // must not touch the destroyed port
        QVERIFY(!bench.clock.hasPending());
    }

    void bufferCap_data()
    {
        QTest::addColumn<int>("queries");
        QTest::newRow("one reply") << 1;
        QTest::newRow("more than the buffer holds") << 1500;
    }
    void bufferCap()
    {
        QFETCH(int, queries);
        Bench bench;
        bench.port.write(Bytes("#0102\r\n").repeated(queries));
        bench.clock.advance(60000);
        const qsizetype held = qMin<qsizetype>(SerialPort::kReceiveBufferBytes, 11 * queries);
        QCOMPARE(bench.port.bytesWaiting(), held);
        QCOMPARE(bench.port.readAll(), Bytes("@01T+18.5\r\n").repeated(queries).left(held));
    }

    void portOpensAtAnyRateAboveZero()
    {
        ManualClock clock;
        SimulatedInstallation installation;
        SimulatedPort port(installation, clock);
        for (const qint32 good : {4800, 256000}) {
            QVERIFY(port.open(QStringLiteral("/dev/ttyUSB0"), good));
            QCOMPARE(port.baudRate(), good);
            QCOMPARE(port.device(), QStringLiteral("/dev/ttyUSB0"));
        }
        for (const qint32 bad : {0, -9600}) {
            QVERIFY(!port.open(QStringLiteral("/dev/ttyUSB0"), bad));
            QVERIFY(!port.isOpen());
        }
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
