// Which ports there are, as `ports`, the mapping dialog and the search see
// them; and which COM number a found installation is saved under. The
// "system's ports" and the by-id folder are the test's own: pseudo-terminals
// and symlinks in a temporary folder.
#include "link/settings.h"
#include "checks/installationsearch.h"
#include "link/portlist.h"
#include "link/systemports.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A pseudo-terminal pair whose slave nobody holds open.
struct Pty
{
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    QString slave;
    Pty()
    {
        char name[128] = {};
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 && ptsname_r(master, name, sizeof name) == 0)
            slave = QString::fromLocal8Bit(name);
    }
    ~Pty()
    {
        if (master >= 0)
            ::close(master);
    }
};

} // namespace

class tst_PortList : public QObject
{
    Q_OBJECT

private slots:
    void mappedAndDetectedPorts();
    void searchPassesOverBusyPortsAndTheConsole();
    void foundInstallationSavedUnder_data();
    void foundInstallationSavedUnder();
    void otherProgramsHoldingThePortAreNamed();
    void aProgramNameIsQuotedAsItIs();
};

void tst_PortList::mappedAndDetectedPorts()
{
    Pty adapter;   // mapped through its by-id name
    Pty detected;  // the system lists it; nothing maps it
    QVERIFY(!adapter.slave.isEmpty() && !detected.slave.isEmpty());
    QTemporaryDir byId;
    const QString stable = byId.filePath(QStringLiteral("usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0"));
    QVERIFY(QFile::link(adapter.slave, stable));
    TempStore store;
    store->save({"PORTS", "COM3", stable});
    store->save({"PORTS", "COM5", "/dev/ttyUSB97"});
    // Mapped twice, under its device name: one entry with both numbers.
    store->save({"PORTS", "COM7", detected.slave});
    store->save({"PORTS", "COM2", detected.slave});

    const QList<DetectedPort> system = {{detected.slave, "CP2102 USB to UART Bridge Controller", "Silicon Labs", "0001"}};
    QList<PortListing> ports = listPorts(Settings::load(*store), system, byId.path());
    QCOMPARE(ports.size(), 3);
    QCOMPARE(ports.at(0).comPorts, (QList<qint16>{2, 7}));
    QCOMPARE(portListingLine(ports.at(0)),
             "COM2, COM7: " + detected.slave + "; CP2102 USB to UART Bridge Controller, Silicon Labs, "
             "серийный номер 0001; свободен");
    QCOMPARE(portListingLine(ports.at(1)), "COM3: " + adapter.slave + " (" + stable + "); свободен");
    QVERIFY(!ports.at(1).detected);
    QCOMPARE(portListingLine(ports.at(2)), QStringLiteral("COM5: /dev/ttyUSB97; устройства нет в системе"));

    // The console, named through its by-id link, is marked as such.
    markConsoles(ports, {stable});
    QCOMPARE(portListingLine(ports.at(1)), "COM3: " + adapter.slave + " (" + stable + "); системная консоль; свободен");
    QVERIFY(!ports.at(0).console && !ports.at(2).console);

    // A program holds the adapter open: /proc shows which.
    const int fd = ::open(QFile::encodeName(adapter.slave).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    const PortListing held = listPorts(Settings::load(*store), system, byId.path()).at(1);
    ::close(fd);
    QCOMPARE(held.state, PortListing::State::InUse);
    QCOMPARE(held.holder, QStringLiteral("tst_portlist (процесс %1)").arg(QCoreApplication::applicationPid()));
}

void tst_PortList::searchPassesOverBusyPortsAndTheConsole()
{
    Pty console;
    Pty busy;
    Pty free;
    TempStore store;
    store->save({"PORTS", "COM1", console.slave});
    store->save({"PORTS", "COM2", busy.slave});
    store->save({"PORTS", "COM3", free.slave});
    store->save({"PORTS", "COM4", "/dev/ttyUSB97"});
    const int fd = ::open(QFile::encodeName(busy.slave).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    const QList<SearchCandidate> candidates = searchCandidates(Settings::load(*store), {}, {console.slave});
    ::close(fd);

    QStringList lines;
    for (const SearchCandidate &c : candidates)
        lines << (c.outcome == SearchCandidate::Outcome::NotTried ? c.device + ": проверить" : candidateLine(c));
    QCOMPARE(lines, (QStringList{
        console.slave + ": пропущен - системная консоль",
        busy.slave + ": пропущен - занят: " + candidates.at(1).reason,
        free.slave + ": проверить",
        "/dev/ttyUSB97: устройства нет в системе",
    }));
    QVERIFY(candidates.at(1).reason.contains(QString::number(QCoreApplication::applicationPid())));
}

void tst_PortList::foundInstallationSavedUnder_data()
{
    QTest::addColumn<QStringList>("before");    // [PORTS] entries: "COMn=device", "$" for the found one
    QTest::addColumn<QStringList>("system");    // devices the system has
    QTest::addColumn<int>("com");
    QTest::addColumn<QString>("entry");         // [PORTS] entry of that COM afterwards, "$" the by-id name

    QTest::newRow("already mapped") << QStringList{"COM1=/dev/ttyUSB7", "COM6=$"} << QStringList{} << 6 << "$";
    QTest::newRow("first without a mapping or a device of its own")
        << QStringList{"COM1=/dev/ttyUSB7"} << QStringList{"/dev/ttyS1", "/dev/ttyS2"} << 4 << "$";
    QTest::newRow("an emptied entry is no mapping") << QStringList{"COM1=", "COM2=/dev/ttyS1"}
                                                            << QStringList{} << 1 << "$";
    QTest::newRow("none free") << QStringList{"COM1=a", "COM2=b", "COM3=c", "COM4=d", "COM5=e", "COM6=f",
                                              "COM7=g", "COM8=h"}
                               << QStringList{} << 0 << "";
}

void tst_PortList::foundInstallationSavedUnder()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, system);
    QFETCH(int, com);
    QFETCH(QString, entry);

    Pty adapter;
    QTemporaryDir byId;
    const QString stable = byId.filePath(QStringLiteral("usb-Prolific_PL2303-if00-port0"));
    QVERIFY(QFile::link(adapter.slave, stable));
    TempStore store;
    for (const QString &pair : before)
        store->save({"PORTS", pair.section('=', 0, 0), pair.section('=', 1).replace("$", stable)});
    QList<DetectedPort> detected;
    for (const QString &device : system)
        detected.append({device, {}, {}, {}});

    SearchCandidate found;
    found.device = adapter.slave;
    found.outcome = SearchCandidate::Outcome::Found;
    found.baudRate = 19200;
    QCOMPARE(int(saveFoundInstallation(*store, found, detected, byId.path()).comPort), com);
    if (com == 0) {
        QCOMPARE(readSetting(*store, "COMPORT", "COM", "none"), QStringLiteral("none"));
        QCOMPARE(readSetting(*store, "COMPORT", "BAUD", "none"), QStringLiteral("none"));
        return;
    }
    QCOMPARE(readSetting(*store, "COMPORT", "COM", ""), QString::number(com));
    QCOMPARE(readSetting(*store, "COMPORT", "BAUD", ""), QStringLiteral("19200"));
    QCOMPARE(readSetting(*store, "PORTS", QStringLiteral("COM%1").arg(com), ""), entry.replace("$", stable));
}

// A terminal left open on the port: it is named, this program's own descriptor is not.
void tst_PortList::otherProgramsHoldingThePortAreNamed()
{
    Pty pty;
    QFile ours(pty.slave);
    QVERIFY(ours.open(QIODevice::ReadWrite));
    QProcess terminal;
    terminal.setStandardInputFile(pty.slave);
    terminal.start("sleep", {"30"});
    QVERIFY(terminal.waitForStarted());
    const qint64 pid = terminal.processId();
    const QList<PortUser> others = portUsers(pty.slave, QCoreApplication::applicationPid());
    terminal.kill();
    terminal.waitForFinished();
    QCOMPARE(others.size(), 1);
    QCOMPARE(others.constFirst().program, QStringLiteral("sleep"));
    QCOMPARE(others.constFirst().pid, pid);
}

// A process names itself: a "%1" in its name is text, not a place for the process number.
void tst_PortList::aProgramNameIsQuotedAsItIs()
{
    QCOMPARE(sharedPortWarnings(QStringLiteral("COM1 (%2)"), {{QStringLiteral("x%1"), 42}}),
             QStringList{QStringLiteral("Порт COM1 (%2) открыт также программой x%1 (процесс 42): ответы могут теряться")});
}

QTEST_GUILESS_MAIN(tst_PortList)
#include "tst_portlist.moc"
