// The serial link: saved settings and the opening of the port, the timed
// wait, and one command exchange.
#include "checks/checksession.h"
#include "link/clock.h"
#include "link/cp1251.h"
#include "link/exchange.h"
#include "link/settings.h"
#include "link/wait.h"
#include "link/windowsportfailure.h"
#include "sim/simulatedport.h"
#include "testsupport.h"

#include <QFile>
#include <QTimer>
#include <QTest>
#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/resource.h>
#endif

namespace {
// Pieces of the line: ms after the query, and the bytes that arrive then.
using Pieces = QList<QPair<int, QByteArray>>;

// Bytes the line carries to the PC `after` ms from now.
void arriveLater(ManualClock &clock, SimulatedPort &port, qint64 after, const QByteArray &bytes)
{
    clock.callAt(clock.now() + after, &port, [&port, bytes] { port.arrive(bytes); });
}

#ifdef Q_OS_WIN
double cpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return -1;
    const auto ticks = [](const FILETIME &t) { return (quint64(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return (ticks(kernel) + ticks(user)) / 1e7;   // in units of 100 ns
}
#else
double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
#endif
} // namespace

class TestLink : public QObject
{
    Q_OBJECT

private slots:
    void windowsFailureLosesThePort_data();
    void windowsFailureLosesThePort();
    void openPortReadsTheStore_data();
    void openPortReadsTheStore();
    void openPortReopensAndFailsSilently();
    void comPortNamesItsDevice_data();
    void comPortNamesItsDevice();
    void waitMeasuresFromItsOwnStart();
    void waitHandlesEventsOnceForNoTime_data();
    void waitHandlesEventsOnceForNoTime();
    void nestedWaitRestartsTheOuterMeasure();
    void realWaitSleepsAndStaysResponsive();
    void replyMasksControlBytesAndReadsCp1251_data();
    void replyMasksControlBytesAndReadsCp1251();
    void exchangeSendsOneLineAndTakesOnlyTheNewReply();
    void exchangeOnAClosedPortGivesNothing();
    void replyEndingAtCrStopsAtTheFirstCr_data();
    void replyEndingAtCrStopsAtTheFirstCr();
    void installationReplyEndsAtItsCrByte();
};

void TestLink::windowsFailureLosesThePort_data()
{
    QTest::addColumn<WindowsPortCall>("call");
    QTest::addColumn<uint>("code");
    QTest::addColumn<bool>("lost");
    using C = WindowsPortCall;
    // Codes drivers give after an unplug, and the ones for a request they have not.
    QTest::newRow("WriteFile, 121 semaphore timeout") << C::Write << 121u << true;
    QTest::newRow("ClearCommError, 87 invalid parameter") << C::ClearErrors << 87u << true;
    QTest::newRow("ReadFile, 995 operation aborted") << C::Read << 995u << true;
    QTest::newRow("ReadFile, 1 invalid function") << C::Read << 1u << true;
    QTest::newRow("GetCommModemStatus, 22 bad command") << C::ModemStatus << 22u << true;
    QTest::newRow("GetCommModemStatus, 50 not supported") << C::ModemStatus << 50u << true;
    QTest::newRow("SetCommState, 87: a rate the port has not") << C::SetRate << 87u << false;
    QTest::newRow("SetCommState, 31 device gone") << C::SetRate << 31u << true;
    QTest::newRow("EscapeCommFunction, 1 invalid function") << C::SetLine << 1u << false;
    QTest::newRow("EscapeCommFunction, 50 not supported") << C::SetLine << 50u << false;
    QTest::newRow("EscapeCommFunction, 1167 device not connected") << C::SetLine << 1167u << true;
}

void TestLink::windowsFailureLosesThePort()
{
    QFETCH(WindowsPortCall, call);
    QFETCH(uint, code);
    QFETCH(bool, lost);
    QCOMPARE(windowsPortFailure(call, code) == WindowsPortFailure::Lost, lost);
}

void TestLink::openPortReadsTheStore_data()
{
    QTest::addColumn<QString>("com");
    QTest::addColumn<QString>("baud");
    QTest::addColumn<QString>("block");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("blockNo");

    // An empty text means: nothing stored under that key.
    QTest::newRow("empty store") << "" << "" << "" << 2 << 4800 << 1;
    QTest::newRow("stored values") << "5" << "115200" << "7" << 5 << 115200 << 7;
    QTest::newRow("block 1") << "" << "" << "1" << 2 << 4800 << 1;
    QTest::newRow("block 32") << "" << "" << "32" << 2 << 4800 << 32;
    QTest::newRow("block 0") << "" << "" << "0" << 2 << 4800 << 1;
    QTest::newRow("block -3") << "" << "" << "-3" << 2 << 4800 << 1;
    QTest::newRow("block 33") << "" << "" << "33" << 2 << 4800 << 1;
    QTest::newRow("block beyond 16 bits") << "" << "" << "65537" << 2 << 4800 << 1;
    QTest::newRow("letters") << "abc" << "fast" << "x" << 2 << 4800 << 1;
    QTest::newRow("number with tail") << "2x" << "9600 baud" << "5!" << 2 << 4800 << 1;
    QTest::newRow("port beyond 16 bits") << "70000" << "9600" << "3" << 2 << 9600 << 3;
    QTest::newRow("rate beyond 32 bits") << "3" << "99999999999" << "3" << 3 << 4800 << 3;
    QTest::newRow("port refused") << "0" << "9600" << "3" << 2 << 9600 << 3;
    QTest::newRow("rate refused") << "4" << "-9600" << "3" << 4 << 4800 << 3;
    QTest::newRow("blanks around") << " 6 " << " 19200" << "8 " << 6 << 19200 << 8;
}

void TestLink::openPortReadsTheStore()
{
    QFETCH(QString, com);
    QFETCH(QString, baud);
    QFETCH(QString, block);
    TempStore store;
    if (!com.isEmpty())
        store->save({"COMPORT", "COM", com});
    if (!baud.isEmpty())
        store->save({"COMPORT", "BAUD", baud});
    if (!block.isEmpty())
        store->save({"NBLOCK", "BLOCK", block});
    QFile file(store.path());
    const QByteArray before = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    file.close();

    ManualClock clock;
    SimulatedInstallation installation;
    SimulatedPort port(installation, clock);
    RecordingPanel panel;
    CheckSession session(port, *store, clock, panel);
    session.openPort(Settings::load(*store));

    QTEST(int(session.state().comPort), "port");
    QCOMPARE(port.device(), Settings::load(*store).deviceFor(session.state().comPort));
    QTEST(int(session.state().baudRate), "rate");
    QTEST(int(port.baudRate()), "rate");
    QTEST(int(session.state().blockNumber), "blockNo");
    QVERIFY(port.isOpen());
    // Reading never writes: what was stored stays as it was, byte for byte.
    QByteArray after;
    if (file.open(QIODevice::ReadOnly))
        after = file.readAll();
    QCOMPARE(after, before);
}

void TestLink::openPortReopensAndFailsSilently()
{
    TempStore store;
    ManualClock clock;
    SimulatedInstallation installation;
    SimulatedPort port(installation, clock);
    RecordingPanel panel;
    CheckSession session(port, *store, clock, panel);

    QVERIFY(session.openPort(Settings::load(*store)));
    QVERIFY(port.isOpen());
    QCOMPARE(port.openCount(), 1);

    // Open already: closed, set up anew from the store, opened again.
    store->save({"COMPORT", "BAUD", "9600"});
    QVERIFY(session.openPort(Settings::load(*store)));
    QVERIFY(port.isOpen());
    QCOMPARE(port.openCount(), 2);
    QCOMPARE(port.baudRate(), 9600);

    // The newly chosen port cannot be opened: afterwards no port is open at all.
    installation.scenario().unplugged = true;
    store->save({"COMPORT", "COM", "3"});
    QVERIFY(!session.openPort(Settings::load(*store)));
    QVERIFY(!port.isOpen());
    QCOMPARE(session.state().comPort, qint16(3));
    QCOMPARE(port.openCount(), 2);
}

void TestLink::comPortNamesItsDevice_data()
{
    QTest::addColumn<int>("com");
    QTest::addColumn<QString>("mapped");   // [PORTS] COMn, "" = none
    QTest::addColumn<QString>("device");
#ifdef Q_OS_WIN
    QTest::newRow("COM1") << 1 << "" << "COM1";
    QTest::newRow("COM9") << 9 << "" << "COM9";
    QTest::newRow("COM10 in the device namespace") << 10 << "" << "\\\\.\\COM10";
#else
    QTest::newRow("COM1") << 1 << "" << "/dev/ttyS0";
    QTest::newRow("COM12") << 12 << "" << "/dev/ttyS11";
    QTest::newRow("mapped adapter") << 3 << "/dev/ttyUSB0" << "/dev/ttyUSB0";
    QTest::newRow("mapped, blanks around") << 3 << "  /dev/ttyACM1 " << "/dev/ttyACM1";
    QTest::newRow("mapped to nothing") << 4 << "   " << "/dev/ttyS3";
#endif
}

void TestLink::comPortNamesItsDevice()
{
    QFETCH(int, com);
    QFETCH(QString, mapped);
    TempStore store;
    if (!mapped.isEmpty())
        store->save({"PORTS", QStringLiteral("COM%1").arg(com), mapped});
    QTEST(Settings::load(*store).deviceFor(qint16(com)), "device");
}

void TestLink::waitMeasuresFromItsOwnStart()
{
    ManualClock clock(1000);
    Stopwatch watch(clock);
    watch.wait(1000);
    QCOMPARE(clock.now(), qint64(2000));
    QCOMPARE(watch.startTick(), qint64(1000));

    // A clock far past 2^31 ms measures like any other: no wrap, no midpoint.
    ManualClock late(qint64(1) << 33);
    Stopwatch lateWatch(late);
    lateWatch.wait(2500);
    QCOMPARE(late.now(), (qint64(1) << 33) + 2500);

    QVERIFY(!watch.runningFor(0));
    QVERIFY(!watch.runningFor(-5));
}

void TestLink::waitHandlesEventsOnceForNoTime_data()
{
    QTest::addColumn<int>("wai");
    QTest::newRow("0 ms") << 0;
    QTest::newRow("negative") << -100;
}

void TestLink::waitHandlesEventsOnceForNoTime()
{
    QFETCH(int, wai);
    ManualClock clock(50);
    Stopwatch watch(clock);
    int handled = 0;
    // Each handled event posts the next one: only a single round may run.
    std::function<void()> repost = [&] {
        ++handled;
        QMetaObject::invokeMethod(this, repost, Qt::QueuedConnection);
    };
    QMetaObject::invokeMethod(this, repost, Qt::QueuedConnection);
    watch.wait(wai);
    QCOMPARE(handled, 1);
    QCOMPARE(clock.now(), qint64(50));
    QCoreApplication::removePostedEvents(this);
}

void TestLink::nestedWaitRestartsTheOuterMeasure()
{
    ManualClock clock;
    Stopwatch watch(clock);
    QObject context;
    qint64 innerEnded = -1;
    clock.callAt(600, &context, [&] {
        watch.wait(300);
        innerEnded = clock.now();
    });
    watch.wait(1000);
    QCOMPARE(innerEnded, qint64(900));
    // The outer wait now measures from the inner one's start.
    QCOMPARE(clock.now(), qint64(1600));
}

void TestLink::realWaitSleepsAndStaysResponsive()
{
    SteadyClock clock;
    Stopwatch watch(clock);
    int ticks = 0;
    QTimer status;
    connect(&status, &QTimer::timeout, this, [&] { ++ticks; });
    status.start(50);

    const double cpuBefore = cpuSeconds();
    QElapsedTimer real;
    real.start();
    watch.wait(400);
    const qint64 elapsedNs = real.nsecsElapsed();
    const double cpu = cpuSeconds() - cpuBefore;

    // Never early, not even by a fraction of a millisecond.
    QVERIFY2(elapsedNs >= 400'000'000, qPrintable(QString::number(elapsedNs)));
    QVERIFY2(elapsedNs < 460'000'000, qPrintable(QString::number(elapsedNs)));
    QVERIFY2(ticks >= 6, qPrintable(QString::number(ticks)));
    // Polling would burn the whole 400 ms of a core.
    QVERIFY2(cpu < 0.1, qPrintable(QString::number(cpu)));
}

void TestLink::replyMasksControlBytesAndReadsCp1251_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("identity line") << QByteArray("@00BSU\r\n") << QString("@00BSU\r\n");
    QTest::newRow("control bytes") << QByteArray("\x01\x09\x1b \x00z", 6) << QString("??? ?z");
    QTest::newRow("DEL passes") << QByteArray("\x7f") << QString(QChar(0x7f));
    QTest::newRow("cyrillic") << QByteArray("\xc0\xe1\xff\xa8\xb8") << QString("АбяЁё");
    QTest::newRow("high punctuation") << QByteArray("\x80\x88\x98\xb9") << QString::fromUtf16(u"\u0402\u20ac\u0098\u2116");
    QTest::newRow("nothing") << QByteArray() << QString();
    // An LF before the first CR is a control byte like any other; after it, the line goes on as it came.
    QTest::newRow("LF before the first CR") << QByteArray("\n@00\nBSU\r\n\n") << QString("?@00?BSU\r\n\n");
    QTest::newRow("lines forged by a reply")
        << QByteArray("\n\xd1\xee\xe5\xe4\xe8\xed\xe5\xed\xe8\xe5 \xf1 \xc1\xd1\xd3 \xee\xe1\xed\xe0\xf0\xf3\xe6\xe5\xed\xee\n"
                      "\xd2\xe5\xf1\xf2\xe8\xf0\xee\xe2\xe0\xed\xe8\xe5\n")
        << QString("?Соединение с БСУ обнаружено?Тестирование?");
}

void TestLink::replyMasksControlBytesAndReadsCp1251()
{
    QFETCH(QByteArray, bytes);
    QTEST(maskReply(bytes), "text");
    QCOMPARE(cutAtFirstCr(QStringLiteral("#0002\r@00BSU")), QStringLiteral("#0002"));
    QCOMPARE(cutAtFirstCr(QStringLiteral("\r@00BSU")), QString());
    QCOMPARE(cutAtFirstCr(maskReply("@00BSU\n")), QStringLiteral("@00BSU?"));
    QCOMPARE(cutAtFirstCr(maskReply("@00\r\nBSU\n")), QStringLiteral("@00"));
}

void TestLink::exchangeSendsOneLineAndTakesOnlyTheNewReply()
{
    TempStore store;
    ManualClock clock;
    Scenario silent;
    silent.lineBreak = true;   // nothing answers by itself: the test plays the line
    SimulatedInstallation installation(silent);
    SimulatedPort port(installation, clock);
    RecordingPanel panel;
    CheckSession session(port, *store, clock, panel);
    session.openPort(Settings::load(*store));
    Stopwatch watch(clock);

    // A late answer to an earlier query is waiting: it is never part of the reply.
    port.arrive("@05OLD\r\n");
    arriveLater(clock, port, 100, "@00BSU\r\n");
    arriveLater(clock, port, 499, "tail");
    arriveLater(clock, port, 501, "too late");
    const qint64 start = clock.now();
    const QString reply = sendCommand(port, watch, "#0002", 500);
    QCOMPARE(port.written(), QByteArray("#0002\r\n"));
    QCOMPARE(clock.now() - start, qint64(500));
    QCOMPARE(reply, QString("@00BSU\r\ntail"));

    // What came after the read is dropped by the next exchange; nothing arrives now.
    clock.advance(20);
    QCOMPARE(port.bytesWaiting(), qsizetype(8));
    QCOMPARE(sendCommand(port, watch, "#0502", 1000), QString());
    QCOMPARE(clock.now() - start, qint64(1520));
}

void TestLink::exchangeOnAClosedPortGivesNothing()
{
    ManualClock clock;
    SimulatedInstallation installation;
    SimulatedPort port(installation, clock);
    Stopwatch watch(clock);
    QCOMPARE(sendCommand(port, watch, "#0002", 500), QString());
    QVERIFY(port.written().isEmpty());
    QCOMPARE(clock.now(), qint64(500));
}

void TestLink::replyEndingAtCrStopsAtTheFirstCr_data()
{
    // Pieces of the line (ms after the query, bytes), when the exchange ends and what it returns.
    QTest::addColumn<Pieces>("pieces");
    QTest::addColumn<qint64>("endsAfter");
    QTest::addColumn<QString>("reply");
    QTest::newRow("whole line at once") << Pieces{{100, "@00BSU\r\n"}} << qint64(100) << "@00BSU\r\n";
    QTest::newRow("line in pieces") << Pieces{{50, "@00"}, {120, "BSU"}, {200, "\r\n"}} << qint64(200)
                                    << "@00BSU\r\n";
    QTest::newRow("LF two characters after the CR is taken")
        << Pieces{{80, "@00BSU\r"}, {85, "\n"}} << qint64(85) << "@00BSU\r\n";
    QTest::newRow("later LF is not waited for") << Pieces{{80, "@00BSU\r"}, {86, "\n"}} << qint64(85) << "@00BSU\r";
    QTest::newRow("what came with the CR is kept") << Pieces{{80, "@00BSU\rxy"}, {81, "z"}} << qint64(80)
                                                   << "@00BSU\rxy";
    QTest::newRow("LF alone does not end it") << Pieces{{80, "@00BSU\n"}} << qint64(500) << "@00BSU?";
    QTest::newRow("no CR: the full time") << Pieces{{10, "@00BSU"}} << qint64(500) << "@00BSU";
    QTest::newRow("silence: the full time") << Pieces{} << qint64(500) << "";
    QTest::newRow("CR after the time is not part of it") << Pieces{{501, "\r"}} << qint64(500) << "";
    QTest::newRow("CR on the deadline still counts") << Pieces{{500, "@00\r"}} << qint64(500) << "@00\r";
    QTest::newRow("LF never waited for past the time") << Pieces{{498, "@00\r"}} << qint64(500) << "@00\r";
    // A device that talks on without a line end: a buffer's worth is the reply, at once.
    const QByteArray chatter(6000, 'x');
    QTest::newRow("chatter without a CR: one buffer's worth")
        << Pieces{{10, chatter}, {20, chatter}, {30, chatter}, {40, chatter}} << qint64(30)
        << QString(SerialPort::kReceiveBufferBytes, QLatin1Char('x'));
}

void TestLink::replyEndingAtCrStopsAtTheFirstCr()
{
    QFETCH(Pieces, pieces);
    ManualClock clock;
    Scenario silent;
    silent.lineBreak = true;
    SimulatedInstallation installation(silent);
    SimulatedPort port(installation, clock);
    QVERIFY(port.open(QStringLiteral("sim"), 4800));
    Stopwatch watch(clock);

    port.arrive("\r");   // a CR waiting before the query is not the reply's end
    for (const auto &[after, bytes] : pieces)
        arriveLater(clock, port, after, bytes);
    const qint64 start = clock.now();
    const QString reply = sendCommand(port, watch, "#0002", 500, ReplyEnd::AtFirstCr);
    QTEST(clock.now() - start, "endsAfter");
    QTEST(reply, "reply");
    QCOMPARE(port.written(), QByteArray("#0002\r\n"));
}

void TestLink::installationReplyEndsAtItsCrByte()
{
    // "@00BSU\r\n" at 4800 baud after 30 ms: the CR, the 7th byte, is in after 15 ms more, its LF 2 ms later.
    ManualClock clock;
    SimulatedInstallation installation;
    SimulatedPort port(installation, clock);
    QVERIFY(port.open(QStringLiteral("sim"), 4800));
    Stopwatch watch(clock);
    QCOMPARE(sendCommand(port, watch, "#0002", 500, ReplyEnd::AtFirstCr), QStringLiteral("@00BSU\r\n"));
    QCOMPARE(clock.now(), qint64(47));
    QCOMPARE(sendCommand(port, watch, "#0102", 1000, ReplyEnd::AtFirstCr), QStringLiteral("@01T+18.5\r\n"));
    QCOMPARE(port.bytesWaiting(), qsizetype(0));
}

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
