// The real serial port layer on a pseudo-terminal: the program opens
// /dev/pts/N as its COM1 and a fixture on the master plays the installation.
// These checks run in real time, so each is kept to its fixed waits.
#include "link/settings.h"
#include "link/exchange.h"
#include "support/modemshim.h"
#include "support/ptyfixture.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTimer>
#include "expectedlines.h"

#include <QTest>

#include <cerrno>
#include <sys/ioctl.h>
#include <termios.h>

namespace {

Scenario scenario(const QString &text)
{
    const auto parsed = Scenario::parse(text);
    if (!parsed)
        qFatal("bad scenario %s", qPrintable(text));
    return *parsed;
}

// The line as a byte value shows in a reply: control bytes other than CR and
// LF as "?", everything else as its Windows-1251 character.
QString shown(const QByteArray &bytes)
{
    QStringDecoder cp1251("windows-1251");
    QString text;
    bool crCame = false;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        const bool lineBreak = b == '\r' || (b == '\n' && crCame);
        crCame = crCame || b == '\r';
        if (b < 32 && !lineBreak)
            text += QLatin1Char('?');
        else if (b < 0x80)
            text += QLatin1Char(char(b));
        else
            text += cp1251(QByteArray(1, c));
    }
    return text;
}

// The line speed the device is set to, as the kernel keeps it (struct termios2).
int deviceRate(int fd)
{
    struct KernelTermios2
    {
        tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
        cc_t c_line;
        cc_t c_cc[19];
        speed_t c_ispeed, c_ospeed;
    } tio {};
    if (::ioctl(fd, _IOR('T', 0x2A, KernelTermios2), &tio) != 0)
        return -1;
    return int(tio.c_ospeed);
}

} // namespace

class tst_RealPort : public QObject
{
    Q_OBJECT

private slots:
    void init() { ModemShim::release(); }

    void modemLinesReadOffWithoutShim();
    void linkTest_data();
    void linkTest();
    void blockAnswersThroughTheLine();
    void everyByteValue();
    void replyShapes_data();
    void replyShapes();
    void partialReplyIsCutAndItsRestDropped();
    void bytesBeforeTheCallAreNotTheReply();
    void floodFillsTheBufferAndNoMore();
    void linkprobeCheckOverThePort();
    void everyOfferedRateOpens_data();
    void everyOfferedRateOpens();
    void openingFailureSaysWhy_data();
    void openingFailureSaysWhy();
};

void tst_RealPort::modemLinesReadOffWithoutShim()
{
    PtyBench b;
    QVERIFY2(b.open(), qPrintable(b.line.errorString() + b.port.openError()));

    // The kernel's own word: a pseudo-terminal has no modem lines.
    int bits = 0;
    errno = 0;
    QCOMPARE(::ioctl(b.line.slaveFd(), TIOCMGET, &bits), -1);
    QCOMPARE(errno, ENOTTY);

    b.port.setDtr(true);
    b.port.setRts(false);
    QVERIFY(b.port.dtr());
    QVERIFY(!b.port.rts());
    QVERIFY(!b.port.dsr());
    QVERIFY(!b.port.cts());
    QVERIFY(b.port.isOpen());
    QCOMPARE(b.lost, 0);

    // The failed line requests leave the port carrying data.
    QCOMPARE(sendCommand(b.port, b.wait, QStringLiteral("#0002"), 150), QStringLiteral("@00BSU\r\n"));
    QCOMPARE(b.line.written(), QByteArray("#0002\r\n"));
}

void tst_RealPort::linkTest_data()
{
    QTest::addColumn<QString>("installation");
    QTest::addColumn<int>("lines");   // DSR/CTS as the fixture holds them, -1: as the installation has them
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QByteArray>("sent");

    QTest::newRow("БСУ answers") << "ok" << -1 << kLinkGood << QByteArray("#0002\r\n");
    // CTS alone does not make a cable: DSR is read on its own line.
    QTest::newRow("error 1: DSR off, CTS on") << "ok" << int(TIOCM_CTS) << kError1 << QByteArray();
    QTest::newRow("error 2: БС unpowered") << "no-power" << -1 << kError2 << QByteArray();
    QTest::newRow("error 3: БСУ silent") << "line-break" << -1
                                         << (QStringList {kBsFound, QStringLiteral("Принято = []")} + kError3)
                                         << QByteArray("#0002\r\n");
    QTest::newRow("error 4: echo") << "bsu-off" << -1
                                   << (QStringList {kBsFound, QStringLiteral("Принято = [#0002]")} + kError4)
                                   << QByteArray("#0002\r\n");
}

void tst_RealPort::linkTest()
{
    QFETCH(QString, installation);
    QFETCH(int, lines);
    QFETCH(QStringList, expected);
    QFETCH(QByteArray, sent);
    if (!ModemShim::loaded())
        QFAIL("libmodemshim.so is not preloaded: pseudo-terminals have no modem lines without it");

    PtyBench b;
    QVERIFY2(b.open(), qPrintable(b.line.errorString() + b.port.openError()));
    b.line.setScenario(scenario(installation));
    if (lines >= 0)
        ModemShim::setInputs(lines);

    const LinkResult link = b.tests.linkTest(ReplyEnd::FullWait);

    QCOMPARE(b.panel.lines, expected);
    QCOMPARE(link.verdict == LineTests::LinkGood, expected == kLinkGood);
    QCOMPARE(b.line.written(), sent);
    // The check left DTR on and RTS off on the device itself.
    QCOMPARE(ModemShim::lines() & (TIOCM_DTR | TIOCM_RTS), int(TIOCM_DTR));
    QVERIFY(b.panel.linkTestEnabled);
    QVERIFY(b.port.isOpen());
    QCOMPARE(b.lost, 0);
}

void tst_RealPort::blockAnswersThroughTheLine()
{
    if (!ModemShim::loaded())
        QFAIL("libmodemshim.so is not preloaded");
    PtyBench b;
    QVERIFY2(b.open(), qPrintable(b.line.errorString() + b.port.openError()));
    b.line.setScenario(scenario(QStringLiteral("blocks=5")));
    const QByteArray answer = b.line.installation().answer("#0502");
    QVERIFY(answer.startsWith("@05"));

    QVERIFY(b.tests.queryBlock(5, ReplyEnd::FullWait).answered);

    QCOMPARE(b.panel.lines, (QStringList {
        QStringLiteral("5: Запрос = [#0502]"),
        QStringLiteral("5: Принято = [") + QString::fromLatin1(answer.left(answer.indexOf('\r'))) + QLatin1Char(']'),
        QStringLiteral("5: Тестирование прошло успешно, блок отвечает"),
    }));
    QCOMPARE(b.line.written(), QByteArray("#0502\r\n"));
}

void tst_RealPort::everyByteValue()
{
    PtyBench b;
    QVERIFY2(b.open(), qPrintable(b.line.errorString() + b.port.openError()));
    b.line.setAnswering(false);
    QByteArray all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);

    // The line carries every value unchanged: no flow control bytes eaten,
    // no CR/LF translation, no parity marks.
    b.line.send(all);
    QVERIFY(PtyFixture::waitFor([&] { return b.port.bytesWaiting() >= 256; }, 2000));
    QCOMPARE(b.port.readAll(), all);

    b.line.onLine = [&](const QByteArray &line) {
        if (line == "#0002")
            b.line.send(all);
        return true;
    };
    const QString reply = sendCommand(b.port, b.wait, QStringLiteral("#0002"), 150);

    QCOMPARE(reply.size(), 256);
    QCOMPARE(reply.at(0x01), QLatin1Char('?'));
    QCOMPARE(reply.at(0x09), QLatin1Char('?'));
    QCOMPARE(reply.at(0x1B), QLatin1Char('?'));
    QCOMPARE(reply.at(0x0D), QLatin1Char('\r'));
    QCOMPARE(reply.at(0x0A), QLatin1Char('?'));   // an LF before the first CR
    QCOMPARE(reply.at(0x20), QLatin1Char(' '));
    QCOMPARE(reply.at(0x7F), QChar(0x7F));
    QCOMPARE(reply.at(0x98), QChar(0x98));
    QCOMPARE(reply.at(0xA8), QChar(u'Ё'));
    QCOMPARE(reply.at(0xB9), QChar(u'№'));
    QCOMPARE(reply.at(0xC0), QChar(u'А'));
    QCOMPARE(reply.at(0xFF), QChar(u'я'));
    if (QStringDecoder("windows-1251").isValid())
        QCOMPARE(reply, shown(all));
}

void tst_RealPort::replyShapes_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("reply");

    QTest::newRow("CR only") << QByteArray("@00BSU\r") << QStringLiteral("@00BSU\r");
    QTest::newRow("LF only") << QByteArray("@00BSU\n") << QStringLiteral("@00BSU?");
    QTest::newRow("two lines") << QByteArray("@05\r\n@00BSU\r\n") << QStringLiteral("@05\r\n@00BSU\r\n");
    QTest::newRow("no line end") << QByteArray("@00BS") << QStringLiteral("@00BS");
}

void tst_RealPort::replyShapes()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, reply);
    PtyBench b;
    QVERIFY2(b.open(), qPrintable(b.line.errorString() + b.port.openError()));
    b.line.onLine = [&](const QByteArray &) {
        b.line.send(answer);
        return true;
    };

    QCOMPARE(sendCommand(b.port, b.wait, QStringLiteral("#0002"), 100), reply);
}

void tst_RealPort::partialReplyIsCutAndItsRestDropped()
{
    PtyBench b;
    QVERIFY2(b.open(), qPrintable(b.line.errorString() + b.port.openError()));
    b.line.onLine = [&](const QByteArray &line) {
        if (line == "#0002") {
            b.line.send("@00B");
            b.line.sendLater(350, "SU\r\n");
        } else {
            b.line.send("@05\r\n");
        }
        return true;
    };

    QCOMPARE(sendCommand(b.port, b.wait, QStringLiteral("#0002"), 100), QStringLiteral("@00B"));
    // The rest of the first reply is waiting when the next exchange begins.
    QVERIFY(PtyFixture::waitFor([&] { return b.port.bytesWaiting() > 0; }, 2000));
    QCOMPARE(sendCommand(b.port, b.wait, QStringLiteral("#0502"), 100), QStringLiteral("@05\r\n"));
    QCOMPARE(b.line.written(), QByteArray("#0002\r\n#0502\r\n"));
}

void tst_RealPort::bytesBeforeTheCallAreNotTheReply()
{
    PtyBench b;
    QVERIFY2(b.open(), qPrintable(b.line.errorString() + b.port.openError()));
    b.line.setAnswering(false);
    // A late answer and line noise, both in the buffer before the query.
    const QByteArray stale = QByteArray("@00BSU\r\n\x1B\x00\x07", 11);
    b.line.send(stale);
    QVERIFY(PtyFixture::waitFor([&] { return b.port.bytesWaiting() == stale.size(); }, 2000));

    QCOMPARE(sendCommand(b.port, b.wait, QStringLiteral("#0002"), 100), QString());
    b.line.setAnswering(true);
    b.line.send(stale);
    QVERIFY(PtyFixture::waitFor([&] { return b.port.bytesWaiting() == stale.size(); }, 2000));
    QCOMPARE(sendCommand(b.port, b.wait, QStringLiteral("#0002"), 150), QStringLiteral("@00BSU\r\n"));

    // Noise the system holds but the program has not yet looked at: no event
    // was handled since it came.
    b.line.send(QByteArray(3000, '\x07'));
    QThread::msleep(100);
    QCOMPARE(sendCommand(b.port, b.wait, QStringLiteral("#0002"), 150), QStringLiteral("@00BSU\r\n"));
}

void tst_RealPort::floodFillsTheBufferAndNoMore()
{
    PtyBench b;
    QVERIFY2(b.open(), qPrintable(b.line.errorString() + b.port.openError()));
    b.line.setAnswering(false);
    QByteArray flood(64 * 1024, '\0');
    for (int i = 0; i < flood.size(); ++i)
        flood[i] = char(i % 251);

    b.line.send(flood);
    QVERIFY(PtyFixture::waitFor([&] { return b.line.pendingOutput() == 0; }, 5000));
    // Whatever the line still holds comes in now; the buffer stays at its size.
    b.wait.wait(100);
    QCOMPARE(b.port.bytesWaiting(), qsizetype(16384));
    // A full buffer keeps what came first and drops what comes on top.
    QCOMPARE(b.port.readAll(), flood.left(16384));
    b.wait.wait(50);
    QCOMPARE(b.port.bytesWaiting(), qsizetype(0));
    QVERIFY(b.port.isOpen());

    b.line.setAnswering(true);
    QCOMPARE(sendCommand(b.port, b.wait, QStringLiteral("#0002"), 150), QStringLiteral("@00BSU\r\n"));
}

void tst_RealPort::linkprobeCheckOverThePort()
{
#ifndef LINKPROBE_CHECK_PATH
    QFAIL("linkprobe-check is not built in this tree");
#else
    if (!ModemShim::loaded())
        QFAIL("libmodemshim.so is not preloaded");
    PtyBench b;
    QVERIFY2(b.line.plug(), qPrintable(b.line.errorString()));
    b.line.setScenario(scenario(QStringLiteral("ok")));

    // The child process has the shim too (LD_PRELOAD is inherited) and reads
    // its lines from a file; its settings live in a folder of its own.
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString state = home.filePath(QStringLiteral("modemlines"));
    QVERIFY(ModemShim::writeStateFile(state, TIOCM_DSR | TIOCM_CTS));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MODEMSHIM_STATE"), state);
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    QProcess check;
    check.setProcessEnvironment(env);
    QEventLoop loop;
    connect(&check, &QProcess::finished, &loop, &QEventLoop::quit);
    connect(&check, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(15000, &loop, &QEventLoop::quit);
    check.start(QStringLiteral(LINKPROBE_CHECK_PATH),
                {QStringLiteral("--port"), b.line.devicePath(), QStringLiteral("link")});
    // The fixture answers from this event loop while the child waits.
    loop.exec();
    if (check.state() != QProcess::NotRunning) {
        check.kill();
        check.waitForFinished(2000);
        QFAIL("linkprobe-check did not finish within 15 s");
    }

    const QString out = QString::fromUtf8(check.readAllStandardOutput());
    const QString err = QString::fromUtf8(check.readAllStandardError());
    QVERIFY2(check.exitStatus() == QProcess::NormalExit, qPrintable(err));
    QVERIFY2(check.exitCode() == 0, qPrintable(out + err));
    QStringList lines = out.split(QLatin1Char('\n'));
    for (QString &line : lines)
        line = line.trimmed();
    qsizetype at = 0;
    for (const QString &expected : kLinkGood) {
        at = lines.indexOf(expected, at);
        QVERIFY2(at >= 0, qPrintable(QStringLiteral("missing \"%1\" in:\n%2").arg(expected, out)));
        ++at;
    }
    QCOMPARE(b.line.written(), QByteArray("#0002\r\n"));
#endif
}

void tst_RealPort::everyOfferedRateOpens_data()
{
    QTest::addColumn<int>("baud");
    for (const int baud : {2400, 4800, 9600, 19200, 38400, 57600, 115200, 256000})
        QTest::addRow("%d", baud) << baud;
}

void tst_RealPort::everyOfferedRateOpens()
{
    QFETCH(int, baud);
    PtyBench b;
    b.store->save({QStringLiteral("COMPORT"), QStringLiteral("BAUD"), QString::number(baud)});
    QVERIFY2(b.open(), qPrintable(b.line.errorString() + b.port.openError()));
    QCOMPARE(b.state.baudRate, baud);
    QCOMPARE(b.port.baudRate(), baud);
    // The device runs at the rate asked for, 256000 included, which Linux
    // has no standard speed code for.
    QCOMPARE(deviceRate(b.line.slaveFd()), baud);
    // The open port moves to another rate and back without closing.
    QVERIFY(b.port.setBaudRate(2400));
    QCOMPARE(deviceRate(b.line.slaveFd()), 2400);
    QVERIFY(b.port.setBaudRate(baud));
    QCOMPARE(deviceRate(b.line.slaveFd()), baud);
    QVERIFY(b.port.isOpen());
}

void tst_RealPort::openingFailureSaysWhy_data()
{
    QTest::addColumn<bool>("busy");
    QTest::newRow("port in use") << true;
    QTest::newRow("device gone") << false;
}

void tst_RealPort::openingFailureSaysWhy()
{
    QFETCH(bool, busy);
    PtyBench b;
    QVERIFY2(b.open(), qPrintable(b.line.errorString() + b.port.openError()));
    if (!busy) {
        b.port.close();
        b.line.unplug();
    }

    // A second program (here: a second port on the same store) tries the same device.
    QtSerialPort other;
    int otherLost = 0;
    connect(&other, &SerialPort::lost, &other, [&] { ++otherLost; });
    RecordingPanel otherPanel;
    CheckSession otherSession(other, *b.store, b.clock, otherPanel);
    QVERIFY(!otherSession.openPort(Settings::load(*b.store)));

    QVERIFY(!other.isOpen());
    QCOMPARE(otherLost, 0);
    // linkprobe-check shows this text to the technician.
    const QString why = other.openError();
    qInfo() << "the opening failed with:" << why;
    QVERIFY2(!why.isEmpty() && why != QStringLiteral("No error") && why != QStringLiteral("Unknown error"),
             qPrintable(QStringLiteral("openError() = \"%1\"").arg(why)));
    if (busy) {
        QVERIFY(b.port.isOpen());
        QCOMPARE(b.lost, 0);
    }
}

int main(int argc, char **argv)
{
#ifdef MODEMSHIM_PATH
    ModemShim::preload(MODEMSHIM_PATH, argv);
#endif
    QCoreApplication app(argc, argv);
    tst_RealPort test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_realport.moc"
