// The port settings dialog behind "Настройки" / "Параметры связи": what each
// way of leaving it saves, and how the port is reopened.
#include "link/clock.h"
#include "link/settings.h"
#include "sim/simulatedport.h"
#include "testsupport.h"
#include "ui/portsettingsdialog.h"
#include "ui/statusbar.h"
#include "ui/mainwindow.h"
#include "ui/twips.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QTest>
#include <functional>
#include <memory>

namespace {

const QString kNone = QStringLiteral("<none>");

// What the operator does in the dialog, and how he leaves it.
struct Visit
{
    int port = -1;          // entry to select, -1 = leave the list alone
    int baud = -1;
    QString typedPort;      // text typed over the port field
    QString leave = "ok";   // "ok" (Принять), "cancel" (Выйти), "close" (close box)
};

struct Seen
{
    QString port;   // the fields' texts when the dialog came up
    QString baud;
    int portEntries = 0;
    int baudEntries = 0;
};

struct Bench
{
    explicit Bench(const QString &scenario = "ok") : installation(*Scenario::parse(scenario))
    {
        window = std::make_unique<MainWindow>(port, *store, clock);
    }
    QString saved(const QString &key) const { return readSetting(*store.store, "COMPORT", key, kNone); }
    // The message log as the operator sees it.
    QString log() const { return window->findChild<QPlainTextEdit *>("txtError")->toPlainText(); }

    // Opens the dialog from the menu, acts in it and returns once the window has acted on it.
    Seen visit(const Visit &v, const std::function<void(PortSettingsDialog *)> &inspect = {})
    {
        Seen seen;
        QTimer::singleShot(0, window.get(), [&] {
            PortSettingsDialog *dialog = window->portSettingsDialog();
            QVERIFY(dialog && dialog->isVisible());
            // A failed check below must not leave the dialog waiting forever.
            const auto release = qScopeGuard([dialog] { if (dialog->isVisible()) dialog->hide(); });
            auto *portList = dialog->findChild<QComboBox *>("cmbCommPort");
            auto *baudList = dialog->findChild<QComboBox *>("cmbBaud");
            seen = {portList->currentText(), baudList->currentText(), portList->count(), baudList->count()};
            if (inspect)
                inspect(dialog);
            if (v.port >= 0)
                portList->setCurrentIndex(v.port);
            if (v.baud >= 0)
                baudList->setCurrentIndex(v.baud);
            if (!v.typedPort.isNull()) {
                portList->lineEdit()->selectAll();
                QTest::keyClicks(portList->lineEdit(), v.typedPort);
            }
            if (v.leave == "ok")
                QTest::mouseClick(dialog->findChild<QPushButton *>("OKButton"), Qt::LeftButton);
            else if (v.leave == "cancel")
                QTest::mouseClick(dialog->findChild<QPushButton *>("CancelButton"), Qt::LeftButton);
            else
                dialog->close();
        });
        window->findChild<QAction *>("mnuCommPort")->trigger();
        return seen;
    }

    TempStore store;
    ManualClock clock;
    SimulatedInstallation installation;
    SimulatedPort port{installation, clock};
    std::unique_ptr<MainWindow> window;
};

} // namespace

Q_DECLARE_METATYPE(Visit)

class TestDialog : public QObject
{
    Q_OBJECT

private slots:
    void firstOpening();
    void oneVisitSavesAndReopens_data();
    void oneVisitSavesAndReopens();
    void laterOpeningsKeepOrRebuild_data();
    void laterOpeningsKeepOrRebuild();
    void refusedRateIsToldAndNotSaved();
    void closingTheMainWindowEndsTheDialog();
    void changeDuringACheck();
    void pulledAdapterShowsAndComesBack();
};

void TestDialog::firstOpening()
{
    Bench bench;
    QVERIFY(!bench.window->portSettingsDialog());
    const int openings = bench.port.openCount();
    bool modal = false;
    QString focus;
    const Seen seen = bench.visit(Visit{}, [&](PortSettingsDialog *d) {
        modal = QApplication::activeModalWidget() == d;
        focus = d->focusWidget() ? d->focusWidget()->objectName() : QString();
    });
    QVERIFY(modal);
    QCOMPARE(focus, QStringLiteral("OKButton"));
    // "Принять" only hid it: what it was like can still be read.
    PortSettingsDialog *dialog = bench.window->portSettingsDialog();
    QVERIFY(dialog && !dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Выбор проследовательного порта"));
    QCOMPARE(dialog->size(), Twips::toPxSize(4275, 1200));
    QVERIFY(!(dialog->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(dialog->windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(!dialog->findChild<QPushButton *>("OKButton")->autoDefault());
    const QStringList tabOrder = {"OKButton", "CancelButton", "cmbCommPort", "cmbBaud"};
    QStringList order;
    for (QWidget *w = dialog->findChild<QWidget *>("OKButton"); order.size() < 4; w = w->nextInFocusChain()) {
        if (tabOrder.contains(w->objectName()) && !order.contains(w->objectName()))
            order << w->objectName();
    }
    QCOMPARE(order, tabOrder);
    QCOMPARE(dialog->findChild<QComboBox *>("cmbBaud")->geometry(), Twips::rect(120, 600, 2535, 315));
    const auto entries = [dialog](const char *name) {
        auto *list = dialog->findChild<QComboBox *>(name);
        QStringList items;
        for (int i = 0; i < list->count(); ++i)
            items << list->itemText(i);
        return items;
    };
    QCOMPARE(entries("cmbCommPort"),
             (QStringList{"порт без изменений", "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"}));
    QCOMPARE(entries("cmbBaud"), (QStringList{"скорость без изменений", "2400 бод", "4800 бод", "9600 бод", "19200 бод",
                                              "38400 бод", "57600 бод", "115200 бод", "256000 бод"}));
    QCOMPARE(seen.port, QStringLiteral("порт без изменений"));
    QCOMPARE(seen.baud, QStringLiteral("скорость без изменений"));
    // "Принять" at once: nothing saved, the port left as it was.
    QCOMPARE(bench.saved("COM"), kNone);
    QCOMPARE(bench.saved("BAUD"), kNone);
    QCOMPARE(bench.port.openCount(), openings);
}

void TestDialog::oneVisitSavesAndReopens_data()
{
    QTest::addColumn<Visit>("visit");
    QTest::addColumn<QString>("com");    // saved afterwards
    QTest::addColumn<QString>("baud");
    QTest::addColumn<int>("reopened");
    QTest::addColumn<int>("rate");   // the port's, afterwards
    QTest::addColumn<int>("comPort");

    QTest::newRow("COM4 only") << Visit{4, -1} << "4" << kNone << 1 << 4800 << 4;
    QTest::newRow("256000 only") << Visit{-1, 8} << kNone << "256000" << 1 << 256000 << 2;
    QTest::newRow("COM3 and 9600") << Visit{3, 3} << "3" << "9600" << 1 << 9600 << 3;
    QTest::newRow("the port in use again") << Visit{2, -1} << "2" << kNone << 1 << 4800 << 2;
    QTest::newRow("Выйти after choosing") << Visit{5, 6, {}, "cancel"} << kNone << kNone << 0 << 4800 << 2;
    QTest::newRow("close box after choosing") << Visit{5, 6, {}, "close"} << kNone << kNone << 0 << 4800 << 2;
    QTest::newRow("typed port name") << Visit{-1, -1, "COM9"} << kNone << kNone << 0 << 4800 << 2;
    QTest::newRow("typed port, chosen rate") << Visit{-1, 4, "12"} << kNone << "19200" << 1 << 19200 << 2;
    QTest::newRow("typed name of an entry") << Visit{-1, -1, "COM7"} << kNone << kNone << 0 << 4800 << 2;
    QTest::newRow("typed over a chosen port") << Visit{5, -1, "COM9"} << kNone << kNone << 0 << 4800 << 2;
}

void TestDialog::oneVisitSavesAndReopens()
{
    QFETCH(Visit, visit);
    QFETCH(QString, com);
    QFETCH(QString, baud);
    QFETCH(int, reopened);
    QFETCH(int, rate);
    QFETCH(int, comPort);
    Bench bench;
    const int openings = bench.port.openCount();
    bench.visit(visit);
    QCOMPARE(bench.saved("COM"), com);
    QCOMPARE(bench.saved("BAUD"), baud);
    QCOMPARE(bench.port.openCount() - openings, reopened);
    QVERIFY(bench.port.isOpen());
    QCOMPARE(bench.port.baudRate(), rate);
    QCOMPARE(bench.port.device(), Settings::load(*bench.store).deviceFor(qint16(comPort)));
    QCOMPARE(int(bench.window->state().comPort), comPort);
    QCOMPARE(bench.window->findChild<QComboBox *>("Combo1")->count(), 32);
}

void TestDialog::laterOpeningsKeepOrRebuild_data()
{
    QTest::addColumn<Visit>("first");
    QTest::addColumn<QString>("portShown");   // at the second opening
    QTest::addColumn<QString>("baudShown");
    QTest::addColumn<QString>("secondLeave");
    QTest::addColumn<QString>("com");         // saved after the second visit
    QTest::addColumn<QString>("baud");
    QTest::addColumn<int>("reopenedBySecond");

    QTest::newRow("Принять, then Принять") << Visit{3, 3} << "COM3" << "9600 бод" << "ok" << "3" << "9600" << 1;
    QTest::newRow("Выйти, then Принять") << Visit{5, 5, {}, "cancel"} << "COM5" << "38400 бод" << "ok" << "5" << "38400" << 1;
    QTest::newRow("Принять, then close box") << Visit{6, 6} << "COM6" << "57600 бод" << "close" << "6" << "57600" << 1;
    QTest::newRow("Выйти, then close box") << Visit{6, 6, {}, "cancel"} << "COM6" << "57600 бод" << "close" << "1" << "2400" << 0;
    QTest::newRow("close box, then Принять") << Visit{4, 4, {}, "close"} << "порт без изменений" << "скорость без изменений"
                                             << "ok" << "1" << "2400" << 0;
}

void TestDialog::laterOpeningsKeepOrRebuild()
{
    QFETCH(Visit, first);
    QFETCH(QString, portShown);
    QFETCH(QString, baudShown);
    QFETCH(QString, secondLeave);
    QFETCH(QString, com);
    QFETCH(QString, baud);
    QFETCH(int, reopenedBySecond);
    Bench bench;
    bench.visit(first);
    // Someone else's values in between show whether the second visit saves again.
    bench.store->save({"COMPORT", "COM", "1"});
    bench.store->save({"COMPORT", "BAUD", "2400"});
    const int openings = bench.port.openCount();

    Visit second;
    second.leave = secondLeave;
    const Seen seen = bench.visit(second);
    QCOMPARE(seen.port, portShown);
    QCOMPARE(seen.baud, baudShown);
    QCOMPARE(seen.portEntries, 9);
    QCOMPARE(seen.baudEntries, 9);
    QCOMPARE(bench.saved("COM"), com);
    QCOMPARE(bench.saved("BAUD"), baud);
    QCOMPARE(bench.port.openCount() - openings, reopenedBySecond);
    QCOMPARE(bench.window->portSettingsDialog() == nullptr, secondLeave == "close");
}

void TestDialog::refusedRateIsToldAndNotSaved()
{
    // A built-in port: nothing above 115200.
    Bench bench;
    bench.port.setHighestRate(115200);
    bench.visit(Visit{-1, 8});
    QCOMPARE(bench.saved("BAUD"), kNone);
    QCOMPARE(bench.log(), QStringLiteral("COM2 (%1): скорость 256000 бод не поддерживается портом")
                              .arg(Settings::load(*bench.store).deviceFor(2)) + "\n");
    QVERIFY(bench.port.isOpen());
    QCOMPARE(bench.port.baudRate(), 4800);
}

void TestDialog::closingTheMainWindowEndsTheDialog()
{
    Bench bench;
    bench.window->show();
    bench.visit(Visit{3, 3});   // an answer that must not be applied once more
    bench.store->save({"COMPORT", "COM", "1"});
    QPointer<PortSettingsDialog> dialog;
    QTimer::singleShot(0, bench.window.get(), [&] {
        dialog = bench.window->portSettingsDialog();
        bench.window->close();
    });
    bench.window->findChild<QAction *>("mnuCommPort")->trigger();
    QVERIFY(dialog && !dialog->isVisible());
    QVERIFY(!bench.port.isOpen());
    QCOMPARE(bench.saved("COM"), QStringLiteral("1"));
    // The menu does nothing more once the window is closed.
    bench.window->findChild<QAction *>("mnuCommPort")->trigger();
    QVERIFY(!bench.port.isOpen());
}

void TestDialog::changeDuringACheck()
{
    Bench bench;
    bench.window->findChild<QComboBox *>("Combo1")->setCurrentIndex(4);
    const int openings = bench.port.openCount();
    // While the link test waits for the БСУ, the operator reaches for the port settings:
    // the item is disabled, and choosing it anyway opens nothing.
    auto *item = bench.window->findChild<QAction *>("mnuCommPort");
    bool enabledDuringCheck = true;
    bench.clock.callAt(bench.clock.now() + 1200, bench.window.get(), [&] {
        enabledDuringCheck = item->isEnabled();
        item->trigger();
    });
    bench.window->findChild<QPushButton *>("Command1")->click();

    QVERIFY(!enabledDuringCheck);
    QVERIFY(!bench.window->portSettingsDialog());
    QCOMPARE(bench.port.openCount(), openings);
    QVERIFY2(bench.log().endsWith(QStringLiteral("5: Тестирование прошло успешно, блок отвечает\n")),
             qPrintable(bench.log()));
    QVERIFY(item->isEnabled());

    // Once it is over the settings can be changed, and the next check runs on the new port.
    bench.visit(Visit{3, 3});
    QCOMPARE(bench.port.openCount() - openings, 1);
    QCOMPARE(bench.port.device(), Settings::load(*bench.store).deviceFor(3));
    QCOMPARE(bench.port.baudRate(), 9600);
    // And the next check runs on the new port.
    bench.window->findChild<QPushButton *>("Command2")->click();
    bench.window->findChild<QPushButton *>("Command1")->click();
    QVERIFY2(bench.log().endsWith(QStringLiteral("5: Тестирование прошло успешно, блок отвечает\n")),
             qPrintable(bench.log()));
}

void TestDialog::pulledAdapterShowsAndComesBack()
{
    Bench bench;
    auto *status = bench.window->findChild<StatusBar *>("StatusBar1");
    const auto panels = [status] {
        QStringList texts;
        for (int panel = 1; panel <= StatusBar::kPanels; ++panel)
            texts << status->panelText(panel);
        return texts;
    };
    auto *timer = bench.window->findChild<QTimer *>("Timer1");
    // One tick of the status timer (Timer1), without waiting the second for it.
    const auto tick = [timer] { QVERIFY(QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection)); };
    tick();
    QVERIFY(panels().contains("COM2:4800,n,8,1"));

    // The USB adapter is pulled out: the next tick shows the port as not open.
    bench.port.setUnplugged(true);
    tick();
    QCOMPARE(panels(), (QStringList{"COM??", "Порт не открыт!", "???", "???", "???", "???"}));
    bench.window->findChild<QPushButton *>("cmdStartTest")->click();
    QCOMPARE(bench.log(), QStringLiteral("Ошибка открытия порта!!!\n"));

    // Still out: the ticks try it again, quietly.
    tick();
    tick();
    QVERIFY(!bench.port.isOpen());
    QCOMPARE(panels(), (QStringList{"COM??", "Порт не открыт!", "???", "???", "???", "???"}));
    QCOMPARE(bench.log(), QStringLiteral("Ошибка открытия порта!!!\n"));

    // Plugged back in: the next tick reopens it, without the dialog, and the check works.
    bench.port.setUnplugged(false);
    tick();
    QVERIFY(panels().contains("COM2:4800,n,8,1"));
    QVERIFY(!bench.window->portSettingsDialog());
    QVERIFY(bench.window->findChild<QPushButton *>("cmdStartTest")->isEnabled());
    bench.window->findChild<QPushButton *>("Command2")->click();
    bench.window->findChild<QPushButton *>("cmdStartTest")->click();
    QVERIFY2(bench.log().endsWith(QStringLiteral("Тестирование прошло успешно\n")),
             qPrintable(bench.log()));
}

QTEST_MAIN(TestDialog)
#include "tst_dialog.moc"
