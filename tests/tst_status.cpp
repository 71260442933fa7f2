// The status bar along the bottom of the main window: which port with which
// line settings, and the four modem lines, refreshed by the one-second timer.
#include "link/clock.h"
#include "sim/simulatedport.h"
#include "testsupport.h"
#include "ui/portsettingsdialog.h"
#include "ui/statusbar.h"
#include "ui/statusdisplay.h"
#include "ui/mainwindow.h"
#include "ui/twips.h"

#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTest>
#include <memory>

namespace {

const QString kClosed = QStringLiteral("Порт не открыт!");

struct Bench
{
    explicit Bench(const QString &scenario = "ok") : installation(*Scenario::parse(scenario)) {}
    MainWindow &open()
    {
        window = std::make_unique<MainWindow>(port, *store, clock);
        bar = window->findChild<StatusBar *>(QStringLiteral("StatusBar1"));
        return *window;
    }
    // What one tick of the status timer (Timer1) does.
    void tick() { showPortStatus(port, window->state().comPort, *bar); }
    QStringList panels() const
    {
        QStringList texts;
        for (int i = 1; i <= StatusBar::kPanels; ++i)
            texts << bar->panelText(i);
        return texts;
    }
    // Chooses a port and a rate in the settings dialog and accepts them.
    void choosePort(int portEntry, int baudEntry)
    {
        QTimer::singleShot(0, window.get(), [this, portEntry, baudEntry] {
            PortSettingsDialog *dialog = window->portSettingsDialog();
            dialog->findChild<QComboBox *>("cmbCommPort")->setCurrentIndex(portEntry);
            dialog->findChild<QComboBox *>("cmbBaud")->setCurrentIndex(baudEntry);
            dialog->findChild<QPushButton *>("OKButton")->click();
        });
        window->findChild<QAction *>("mnuCommPort")->trigger();
    }

    TempStore store;
    ManualClock clock;
    SimulatedInstallation installation;
    SimulatedPort port{installation, clock};
    std::unique_ptr<MainWindow> window;
    StatusBar *bar = nullptr;
};

} // namespace

class TestStatus : public QObject
{
    Q_OBJECT

private slots:
    void emptyUntilTheFirstTick();
    void closedPortShowsInEveryPanel();
    void openPortShowsPortAndLines_data();
    void openPortShowsPortAndLines();
    void panelsFollowTheLinesTickByTick();
    void screenReadersSeeAStatusBar();
    void reopenedPortShowsAtTheNextTick();
    void panelWidths();
    void timerRefreshesOnItsOwn();
};

void TestStatus::emptyUntilTheFirstTick()
{
    Bench bench;
    bench.open();
    QCOMPARE(bench.panels(), QStringList(6, QString()));
}

void TestStatus::closedPortShowsInEveryPanel()
{
    Bench bench("unplugged");
    bench.open();
    const QStringList closed = {"COM??", kClosed, "???", "???", "???", "???"};
    bench.tick();
    QCOMPARE(bench.panels(), closed);
    bench.tick();
    QCOMPARE(bench.panels(), closed);
}

void TestStatus::openPortShowsPortAndLines_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("com");
    QTest::addColumn<QString>("baud");
    QTest::addColumn<bool>("rts");
    QTest::addColumn<bool>("dtr");
    QTest::addColumn<QStringList>("panels");

    const QString off = "   ";
    QTest::newRow("defaults, as after a check") << "ok" << "" << "" << false << true
                                                << QStringList{"COM2:4800,n,8,1", "", off, "DTR", "CTS", "DSR"};
    QTest::newRow("БС without power") << "no-power" << "3" << "9600" << true << false
                                      << QStringList{"COM3:9600,n,8,1", "", "RTS", off, off, "DSR"};
    QTest::newRow("no cable, lines low") << "no-cable" << "1" << "2400" << false << false
                                         << QStringList{"COM1:2400,n,8,1", "", off, off, off, off};
    QTest::newRow("two-digit port") << "ok" << "10" << "9600" << true << true
                                    << QStringList{"COM10:9600,n,8,1", "", "RTS", "DTR", "CTS", "DSR"};
}

void TestStatus::openPortShowsPortAndLines()
{
    QFETCH(QString, scenario);
    QFETCH(QString, com);
    QFETCH(QString, baud);
    QFETCH(bool, rts);
    QFETCH(bool, dtr);
    QFETCH(QStringList, panels);
    Bench bench(scenario);
    if (!com.isEmpty())
        bench.store->save({"COMPORT", "COM", com});
    if (!baud.isEmpty())
        bench.store->save({"COMPORT", "BAUD", baud});
    bench.open();
    QVERIFY(bench.port.isOpen());
    bench.port.setRts(rts);
    bench.port.setDtr(dtr);
    bench.tick();
    QCOMPARE(bench.panels(), panels);
}

void TestStatus::panelsFollowTheLinesTickByTick()
{
    Bench bench;
    bench.open();
    const QString off = "   ";
    bench.port.setDtr(false);
    bench.tick();
    QCOMPARE(bench.panels(), (QStringList{"COM2:4800,n,8,1", "", off, off, "CTS", "DSR"}));
    // Between ticks the panels keep what they show; each tick reads the lines afresh.
    bench.port.setRts(true);
    bench.port.setDtr(true);
    QCOMPARE(bench.panels(), (QStringList{"COM2:4800,n,8,1", "", off, off, "CTS", "DSR"}));
    bench.tick();
    QCOMPARE(bench.panels(), (QStringList{"COM2:4800,n,8,1", "", "RTS", "DTR", "CTS", "DSR"}));
    bench.installation.scenario().power = false;
    bench.tick();
    QCOMPARE(bench.panels(), (QStringList{"COM2:4800,n,8,1", "", "RTS", "DTR", off, "DSR"}));
}

void TestStatus::screenReadersSeeAStatusBar()
{
    Bench bench;
    bench.open();
    QAccessibleInterface *bar = QAccessible::queryAccessibleInterface(bench.bar);
    QVERIFY(bar);
    QCOMPARE(bar->role(), QAccessible::StatusBar);
    QCOMPARE(bar->text(QAccessible::Name), QStringLiteral("Строка состояния"));
    bench.tick();
    // Its panels are read out with it.
    QAccessibleInterface *first = bar->child(0);
    QVERIFY(first);
    QCOMPARE(first->text(QAccessible::Name), QStringLiteral("COM2:4800,n,8,1"));
}

void TestStatus::reopenedPortShowsAtTheNextTick()
{
    Bench bench("unplugged");
    bench.open();
    bench.tick();
    QCOMPARE(bench.bar->panelText(2), kClosed);

    // The adapter is plugged back in and the operator picks COM5 at 115200.
    bench.port.setUnplugged(false);
    bench.choosePort(5, 7);
    QVERIFY(bench.port.isOpen());
    bench.tick();
    QCOMPARE(bench.bar->panelText(1), QStringLiteral("COM5:115200,n,8,1"));
    QCOMPARE(bench.bar->panelText(2), QString());

    bench.choosePort(0, 2);
    bench.tick();
    QCOMPARE(bench.bar->panelText(1), QStringLiteral("COM5:4800,n,8,1"));
    QCOMPARE(bench.bar->panelText(2), QString());
}

void TestStatus::panelWidths()
{
    Bench bench;
    MainWindow &window = bench.open();
    // Nothing but this test writes the panels here.
    window.findChild<QTimer *>("Timer1")->stop();
    window.show();
    const auto width = [&](int panel) { return bench.bar->panelLabel(panel)->width(); };
    bench.tick();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // The load asks for 500 twips for panels 1 to 4; 1 and 2 keep their minimum.
    QCOMPARE(bench.bar->panelWidth(1), 1440);
    QCOMPARE(bench.bar->panelWidth(2), 1440);
    for (int panel = 3; panel <= 6; ++panel)
        QCOMPARE(width(panel), Twips::toPxX(500));
    QVERIFY(width(1) >= Twips::toPxX(1440));
    // Panel 2 takes what the others leave.
    QVERIFY(width(2) > Twips::toPxX(1440));
    const int used = width(1) + width(2) + 4 * Twips::toPxX(500);
    QVERIFY2(bench.bar->width() - used < Twips::toPxX(300), qPrintable(QString::number(bench.bar->width() - used)));

    // A longer text widens panel 1, and panel 2 gives way.
    const int before1 = width(1);
    const int before2 = width(2);
    QString text = QStringLiteral("COM10:256000,n,8,1");
    while (bench.bar->panelLabel(1)->fontMetrics().horizontalAdvance(text) < before1 + 40)
        text += QLatin1Char(' ');
    bench.bar->setPanelText(1, text);
    QTRY_COMPARE(width(1), bench.bar->panelLabel(1)->sizeHint().width());
    QVERIFY(width(1) > before1);
    QCOMPARE(width(2), before2 - (width(1) - before1));
}

void TestStatus::timerRefreshesOnItsOwn()
{
    Bench bench;
    bench.open();
    // Real time: the first tick comes about a second after the load.
    QTRY_COMPARE_WITH_TIMEOUT(bench.bar->panelText(1), QStringLiteral("COM2:4800,n,8,1"), 2500);
}

QTEST_MAIN(TestStatus)
#include "tst_status.moc"
