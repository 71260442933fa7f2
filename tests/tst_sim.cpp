#include "link/clock.h"
#include "sim/scenario.h"
#include "sim/simulatedinstallation.h"
#include "sim/simulatedport.h"

#include <QSignalSpy>
#include <QTest>

#include <algorithm>

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
        port.setSettings(QStringLiteral("%1,n,8,1").arg(baud));
        port.setInBufferSize(16384);
        port.setPortOpen(true);
    }
    // What arrives within waitMs of sending the line, as a command exchange sees it.
    QByteArray ask(const QByteArray &line, qint64 waitMs = 1000)
    {
        port.Input();
        port.Output(line + "\r\n");
        clock.advance(waitMs);
        return port.Input();
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
        QTest::addColumn<QString>("canonical");   // empty: refused
        QTest::newRow("empty") << "" << "ok";
        QTest::newRow("ok") << "ok" << "ok";
        QTest::newRow("spaces and case") << " Noise , late " << "noise,late";
        QTest::newRow("every fault") << "unplugged,late,noise,bsu-off,line-break,no-power,no-cable"
                                     << "no-cable,no-power,line-break,bsu-off,noise,late,unplugged";
        QTest::newRow("block list") << "blocks=9,1-5,noise" << "blocks=1-5,9,noise";
        QTest::newRow("blocks in two words") << "blocks=3,late,blocks=4" << "blocks=3-4,late";
        QTest::newRow("all blocks") << "blocks=1-32" << "ok";
        QTest::newRow("no blocks") << "blocks=none,no-power" << "no-power,blocks=none";
        QTest::newRow("unknown word") << "noise,nosie" << "";
        QTest::newRow("block 0") << "blocks=0" << "";
        QTest::newRow("block 33") << "blocks=1,33" << "";
        QTest::newRow("reversed range") << "blocks=5-3" << "";
        QTest::newRow("open range") << "blocks=1-" << "";
        QTest::newRow("not a number") << "blocks=1.5" << "";
        QTest::newRow("empty list") << "blocks=,late" << "";
        QTest::newRow("number without blocks=") << "noise,5" << "";
        QTest::newRow("number after none") << "blocks=none,4" << "";
    }
    void scenarioText()
    {
        QFETCH(QString, text);
        QFETCH(QString, canonical);
        QString error;
        const std::optional<Scenario> s = Scenario::parse(text, &error);
        QCOMPARE(s.has_value(), !canonical.isEmpty());
        if (!s) {
            QVERIFY(!error.isEmpty());
            return;
        }
        QCOMPARE(s->toString(), canonical);
        QCOMPARE(Scenario::parse(canonical)->toString(), canonical);
    }

    void modemLines_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<bool>("dsr");
        QTest::addColumn<bool>("cts");
        QTest::newRow("ok") << "ok" << true << true;
        QTest::newRow("no power") << "no-power" << true << false;
        QTest::newRow("no cable") << "no-cable" << false << false;
        QTest::newRow("line break") << "line-break,bsu-off" << true << true;
    }
    void modemLines()
    {
        QFETCH(QString, scenario);
        QFETCH(bool, dsr);
        QFETCH(bool, cts);
        Bench bench(scenario);
        QCOMPARE(bench.port.DSRHolding(), dsr);
        QCOMPARE(bench.port.CTSHolding(), cts);
        bench.port.setPortOpen(false);
        QVERIFY(!bench.port.DSRHolding());
        QVERIFY(!bench.port.CTSHolding());
    }

    void replies_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("БСУ") << "ok" << QByteArray("#0002") << QByteArray("@00BSU\r\n");
        QTest::newRow("block 5") << "ok" << QByteArray("#0502") << QByteArray("@05T+20.5\r\n");
        QTest::newRow("block 10") << "ok" << QByteArray("#0A02") << QByteArray("@0AT+23.0\r\n");
        QTest::newRow("block 32") << "ok" << QByteArray("#2002") << QByteArray("@20T+34.0\r\n");
        QTest::newRow("absent block") << "blocks=1-4" << QByteArray("#0502") << QByteArray();
        QTest::newRow("no blocks, БСУ") << "blocks=none" << QByteArray("#0002") << QByteArray("@00BSU\r\n");
        QTest::newRow("address 33") << "ok" << QByteArray("#2102") << QByteArray();
        QTest::newRow("lower-case address") << "ok" << QByteArray("#0a02") << QByteArray();
        QTest::newRow("unknown line") << "ok" << QByteArray("#00BSU") << QByteArray();
        QTest::newRow("echo БСУ") << "bsu-off" << QByteArray("#0002") << QByteArray("#0002\r\n");
        QTest::newRow("echo block") << "bsu-off,blocks=none" << QByteArray("#0502") << QByteArray("#0502\r\n");
        QTest::newRow("line break") << "line-break" << QByteArray("#0002") << QByteArray();
        QTest::newRow("line break, БСУ off") << "line-break,bsu-off" << QByteArray("#0002") << QByteArray();
        QTest::newRow("no cable") << "no-cable" << QByteArray("#0002") << QByteArray();
        QTest::newRow("no power") << "no-power,bsu-off" << QByteArray("#0002") << QByteArray();
        QTest::newRow("late") << "late" << QByteArray("#0002") << QByteArray();
    }
    void replies()
    {
        QFETCH(QString, scenario);
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, reply);
        Bench bench(scenario);
        QCOMPARE(bench.ask(line), reply);
        QCOMPARE(bench.port.written(), line + "\r\n");
    }

    void linesInPieces_data()
    {
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("split") << QByteArrayList{"#0", "00", "2\r", "\n"} << QByteArray("@00BSU\r\n");
        QTest::newRow("CR alone") << QByteArrayList{"#0002\r"} << QByteArray("@00BSU\r\n");
        QTest::newRow("two in one write") << QByteArrayList{"#0002\r\n#0102\r\n"} << QByteArray("@00BSU\r\n@01T+18.5\r\n");
        QTest::newRow("no line end") << QByteArrayList{"#0002"} << QByteArray();
    }
    void linesInPieces()
    {
        QFETCH(QByteArrayList, pieces);
        QFETCH(QByteArray, reply);
        Bench bench(QString(), 2400);
        for (const QByteArray &piece : pieces) {
            bench.port.Output(piece);
            bench.clock.advance(5);
        }
        bench.clock.advance(1000);
        QCOMPARE(bench.port.Input(), reply);
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
        bench.port.Output("#0002\r\n");
        bench.clock.advance(kLatency);
        QCOMPARE(bench.port.InBufferCount(), 0);
        bench.clock.advance(fullAt - 1 - kLatency);
        QVERIFY(bench.port.InBufferCount() < 8);
        bench.clock.advance(1);
        QCOMPARE(bench.port.Input(), QByteArray("@00BSU\r\n"));
    }

    void lateReply()
    {
        Bench bench(QStringLiteral("late"));
        QCOMPARE(bench.ask("#0002"), QByteArray());
        bench.clock.advance(SimulatedInstallation::kLateLatencyMs - 1000 + 20);
        QCOMPARE(bench.port.Input(), QByteArray("@00BSU\r\n"));
    }

    void noiseKeepsMarker_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("marker");
        QTest::newRow("БСУ") << "noise" << QByteArray("#0002") << QByteArray("@00BSU");
        QTest::newRow("block") << "noise" << QByteArray("#1F02") << QByteArray("@1F");
        QTest::newRow("echo") << "noise,bsu-off" << QByteArray("#0002") << QByteArray("#0002");
    }
    void noiseKeepsMarker()
    {
        QFETCH(QString, scenario);
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, marker);
        Bench bench(scenario);
        const QByteArray reply = bench.ask(line, 500);
        const QByteArray firstLine = reply.left(reply.indexOf('\r'));
        QVERIFY2(firstLine.contains(marker), firstLine.toHex(' ').constData());
        QVERIFY(std::any_of(firstLine.begin(), firstLine.end(), [](char c) { return uchar(c) < 0x20; }));
        bench.clock.advance(1000);
        const QByteArray junk = bench.port.Input();
        QVERIFY(!junk.isEmpty());
        QVERIFY(!junk.contains('@') && !junk.contains('#'));
    }

    void unplugWhileOpen()
    {
        Bench bench;
        QSignalSpy onComm(&bench.port, &SerialPort::OnComm);
        bench.port.Output("#0002\r\n");
        bench.clock.advance(kLatency + 3);   // the reply is half way in
        bench.installation.scenario().unplugged = true;
        QVERIFY(!bench.port.PortOpen());
        QCOMPARE(bench.port.InBufferCount(), 0);
        bench.port.Output("#0102\r\n");
        bench.clock.advance(1000);
        QCOMPARE(bench.port.Input(), QByteArray());
        QVERIFY(!bench.port.DSRHolding());
        QCOMPARE(bench.port.written(), QByteArray("#0002\r\n"));
        QCOMPARE(onComm.count(), 1);
        QCOMPARE(bench.port.CommEvent(), CommEvents::PortLost);
        QVERIFY(!bench.port.setPortOpen(true));

        bench.port.setUnplugged(false);
        QVERIFY(bench.port.setPortOpen(true));
        QCOMPARE(bench.ask("#0002"), QByteArray("@00BSU\r\n"));
        bench.port.setUnplugged(true);
        QCOMPARE(onComm.count(), 2);
    }

    void reopenOrDestroyDropsBytesInFlight()
    {
        Bench bench;
        bench.port.Output("#0002\r\n");
        QVERIFY(bench.port.setPortOpen(false));
        QVERIFY(bench.port.setPortOpen(true));
        bench.clock.advance(1000);
        QCOMPARE(bench.port.InBufferCount(), 0);

        auto *other = new SimulatedPort(bench.installation, bench.clock);
        other->setPortOpen(true);
        other->Output("#0002\r\n");
        delete other;
        bench.clock.advance(1000);   // must not touch the destroyed port
        QVERIFY(!bench.clock.hasPending());
    }

    void bufferCap_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("queries");
        QTest::newRow("small buffer") << 8 << 1;
        QTest::newRow("16384") << 16384 << 1500;
    }
    void bufferCap()
    {
        QFETCH(int, size);
        QFETCH(int, queries);
        Bench bench;
        bench.port.setInBufferSize(qint16(size));
        bench.port.Output(QByteArray("#0102\r\n").repeated(queries));
        bench.clock.advance(60000);
        QCOMPARE(int(bench.port.InBufferCount()), size);
        const QByteArray bytes = bench.port.Input();
        QCOMPARE(bytes.size(), size);
        QCOMPARE(bytes, QByteArray("@01T+18.5\r\n").repeated(queries).left(size));
    }

    void portSettings_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("4800") << "4800,n,8,1" << true;
        QTest::newRow("256000") << "256000,n,8,1" << true;
        QTest::newRow("baud 0") << "0,n,8,1" << false;
        QTest::newRow("negative") << "-9600,n,8,1" << false;
        QTest::newRow("too big") << "4294967296,n,8,1" << false;
        QTest::newRow("even parity") << "9600,e,8,1" << false;
        QTest::newRow("short") << "9600,n,8" << false;
        QTest::newRow("blank") << "" << false;
    }
    void portSettings()
    {
        QFETCH(QString, settings);
        QFETCH(bool, accepted);
        ManualClock clock;
        SimulatedInstallation installation;
        SimulatedPort port(installation, clock);
        QVERIFY(port.setSettings(QStringLiteral("2400,n,8,1")));
        QCOMPARE(port.setSettings(settings), accepted);
        QCOMPARE(port.Settings(), accepted ? settings : QStringLiteral("2400,n,8,1"));

        QVERIFY(!port.setCommPort(0));
        QVERIFY(!port.setCommPort(256));
        QVERIFY(port.setCommPort(255));
        QVERIFY(port.setPortOpen(true));
        QVERIFY(!port.setCommPort(3));
        QCOMPARE(port.CommPort(), qint16(255));
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
