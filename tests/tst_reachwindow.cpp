// The window's ways to reach the installation: the device mapping dialog and
// the search, over the simulated installation (any device name opens there).
#include "link/clock.h"
#include "sim/simulatedport.h"
#include "testsupport.h"
#include "ui/mainwindow.h"
#include "ui/portdevicesdialog.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryFile>
#include <QTimer>
#include <QTest>

class tst_ReachWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
#ifdef Q_OS_WIN
        QSKIP("COM n is the system's own port on Windows: there are no devices to map, and the search "
              "goes through the system's ports");
#endif
    }
    void mappingThePortInUseReopensIt();
    void searchFindsAsksAndSaves();
};

void tst_ReachWindow::mappingThePortInUseReopensIt()
{
    QTemporaryFile adapter;   // stands for /dev/ttyUSB0
    QVERIFY(adapter.open());
    ManualClock clock;
    SimulatedInstallation installation(Scenario {});
    SimulatedPort port(installation, clock);
    TempStore store;
    MainWindow window(port, *store, clock);
    window.setPortDetection([&] { return QList<DetectedPort>{{adapter.fileName(), "FT232R USB UART", "FTDI", ""}}; });
    QCOMPARE(port.device(), QStringLiteral("/dev/ttyS1"));
    const int opens = port.openCount();

    QStringList offered;
    QTimer::singleShot(0, &window, [&] {
        auto *dialog = window.findChild<PortDevicesDialog *>();
        QComboBox *com2 = dialog->findChild<QComboBox *>("cmbDeviceCOM2");
        for (int i = 0; i < com2->count(); ++i)
            offered << com2->itemText(i);
        com2->setCurrentIndex(1);
        dialog->findChild<QPushButton *>("OKButton")->click();
    });
    window.findChild<QAction *>("mnuPortDevices")->trigger();

    const QString name = QFileInfo(adapter.fileName()).fileName();
    QCOMPARE(offered, (QStringList{"по умолчанию (/dev/ttyS1)", name + " - FT232R USB UART (FTDI)"}));
    QCOMPARE(readSetting(*store, "PORTS", "COM2", ""), adapter.fileName());
    QCOMPARE(port.device(), adapter.fileName());
    QCOMPARE(port.openCount(), opens + 1);

    // Back to the default; a mapping of another COM number leaves the port alone.
    QTimer::singleShot(0, &window, [&] {
        auto *dialog = window.findChild<PortDevicesDialog *>();
        dialog->findChild<QComboBox *>("cmbDeviceCOM2")->setCurrentIndex(0);
        dialog->findChild<QComboBox *>("cmbDeviceCOM5")->setCurrentIndex(1);
        dialog->findChild<QPushButton *>("OKButton")->click();
    });
    window.findChild<QAction *>("mnuPortDevices")->trigger();
    QCOMPARE(readSetting(*store, "PORTS", "COM2", "none"), QString());
    QCOMPARE(readSetting(*store, "PORTS", "COM5", ""), adapter.fileName());
    QCOMPARE(port.device(), QStringLiteral("/dev/ttyS1"));
    QCOMPARE(port.openCount(), opens + 2);
}

void tst_ReachWindow::searchFindsAsksAndSaves()
{
    QTemporaryFile adapter;
    QVERIFY(adapter.open());
    ManualClock clock;
    SimulatedInstallation installation(Scenario {});
    SimulatedPort port(installation, clock);
    TempStore store;
    store->save({"PORTS", "COM1", "/dev/ttyUSB97"});   // mapped, not plugged in
    store->save({"PORTS", "COM3", adapter.fileName()});
    MainWindow window(port, *store, clock);
    window.setPortDetection([] { return QList<DetectedPort>{}; });
    auto *log = window.findChild<QPlainTextEdit *>("txtError");

    QStringList seenWhileAsking;   // the disabled items, and the clear button when it stays usable
    // The question comes once the search is done; until then the checks' waits turn the event loop.
    QTimer answer;
    answer.setInterval(10);
    connect(&answer, &QTimer::timeout, &window, [&] {
        auto *question = window.findChild<QMessageBox *>("FoundQuestion");
        if (!question || !question->isVisible())
            return;
        answer.stop();
        for (const char *name : {"cmdStartTest", "Command1"}) {
            if (!window.findChild<QPushButton *>(name)->isEnabled())
                seenWhileAsking << name;
        }
        for (const char *name : {"mnuCommPort", "mnuPortDevices", "mnuFindInstallation"}) {
            if (!window.findChild<QAction *>(name)->isEnabled())
                seenWhileAsking << name;
        }
        if (window.findChild<QPushButton *>("Command2")->isEnabled())
            seenWhileAsking << "Command2 enabled";
        for (QAbstractButton *button : question->buttons()) {
            if (button->text() == QStringLiteral("Да"))
                button->click();
        }
    });
    answer.start();
    window.findChild<QAction *>("mnuFindInstallation")->trigger();
    QCoreApplication::processEvents();
    QVERIFY(!answer.isActive());

    QCOMPARE(log->toPlainText().split('\n', Qt::SkipEmptyParts), (QStringList{
        "/dev/ttyUSB97: устройства нет в системе",
        adapter.fileName() + ": БСУ отвечает на скорости 4800 бод, принято = [@00BSU]",
        "Установка найдена: " + adapter.fileName() + ", 4800 бод",
    }));
    QCOMPARE(seenWhileAsking, (QStringList{"cmdStartTest", "Command1", "mnuCommPort", "mnuPortDevices",
                                               "mnuFindInstallation", "Command2 enabled"}));
    // Already COM3: kept, and the window now works on it.
    QCOMPARE(readSetting(*store, "COMPORT", "COM", ""), QStringLiteral("3"));
    QCOMPARE(readSetting(*store, "COMPORT", "BAUD", ""), QStringLiteral("4800"));
    QVERIFY(port.isOpen());
    QCOMPARE(port.device(), adapter.fileName());
    QCOMPARE(window.state().comPort, qint16(3));
    QVERIFY(window.findChild<QPushButton *>("cmdStartTest")->isEnabled());
    QVERIFY(window.findChild<QAction *>("mnuFindInstallation")->isEnabled());
}

QTEST_MAIN(tst_ReachWindow)
#include "tst_reachwindow.moc"
