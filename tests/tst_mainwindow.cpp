// The main window as the technician meets it: its layout, what it shows after
// the start, the message log, and how it closes, also in the middle of a check.
#include "link/clock.h"
#include "sim/simulatedport.h"
#include "expectedlines.h"
#include "testsupport.h"
#include "ui/mainwindow.h"
#include "ui/statusbar.h"
#include "ui/twips.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QTest>
#include <memory>

namespace {

QStringList linesOf(const QString &shown)
{
    QStringList lines = shown.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// A simulated port that counts the closings asked of it.
class CountingPort : public SimulatedPort
{
public:
    using SimulatedPort::SimulatedPort;
    void close() override
    {
        ++closeRequests;
        SimulatedPort::close();
    }
    int closeRequests = 0;
};

// An installation on the cable, the program's port on virtual time, and the window.
struct Bench
{
    explicit Bench(const QString &scenario = "ok") : installation(*Scenario::parse(scenario)) {}
    MainWindow &open()
    {
        window = std::make_unique<MainWindow>(port, *store, clock);
        return *window;
    }
    template<typename T>
    T *child(const char *name) const { return window->findChild<T *>(QLatin1String(name)); }
    // The message log as the operator sees it, one entry per line shown.
    QStringList logLines() const { return linesOf(child<QPlainTextEdit>("txtError")->toPlainText()); }
    QString saved(const QString &section, const QString &key) const
    {
        return readSetting(*store.store, section, key, QStringLiteral("<none>"));
    }

    TempStore store;
    ManualClock clock;
    SimulatedInstallation installation;
    CountingPort port{installation, clock};
    std::unique_ptr<MainWindow> window;
};

// Typing as the keyboard delivers it, Cyrillic included; "\n" is the Enter key.
void type(QWidget *widget, const QString &text)
{
    for (const QChar c : text) {
        if (c == QLatin1Char('\n')) {
            QTest::keyClick(widget, Qt::Key_Return);
            continue;
        }
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QApplication::sendEvent(widget, &release);
    }
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void controlsSitWhereDrawn_data();
    void controlsSitWhereDrawn();
    void windowFaceAndTabOrder();
    void loadPreselectsSavedBlock_data();
    void loadPreselectsSavedBlock();
    void typedBlockText_data();
    void typedBlockText();
    void typedBlockIsChecked_data();
    void typedBlockIsChecked();
    void oneCheckAtATime_data();
    void oneCheckAtATime();
    void scanFromTheMenuAndStop();
    void savedLogFile_data();
    void scanEndsWhenThePortIsLost();
    void savedLogFile();
    void simulatedWindowReachesNoRealPort();
    void failedLogSaveIsTold();
    void addMessage_data();
    void addMessage();
    void addMessageLeavesCaretAndSelection();
    void buttonsRunTheirChecks_data();
    void buttonsRunTheirChecks();
    void settingsProblemsAreLogLines();
    void clearDuringACheck();
    void busyButtonCannotStartItsCheckAgain_data();
    void busyButtonCannotStartItsCheckAgain();
    void closeClosesAnOpenPortOnly_data();
    void closeClosesAnOpenPortOnly();
    void closeDuringACheck_data();
    void closeDuringACheck();
    void closeDuringACheckEndsTheProgram();
};

void TestMainWindow::controlsSitWhereDrawn_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");   // in the client area

    QTest::newRow("log") << "txtError" << QRect(120, 120, 5295, 5040);
    QTest::newRow("status bar") << "StatusBar1" << QRect(0, 5190, 7290, 375);
    QTest::newRow("link test") << "cmdStartTest" << QRect(5520, 120, 1695, 615);
    QTest::newRow("block list") << "Combo1" << QRect(5640, 1320, 1455, 315);
    QTest::newRow("frame") << "Frame1" << QRect(5520, 960, 1695, 1575);
    QTest::newRow("block check") << "Command1" << QRect(5640, 1800, 1455, 615);
    QTest::newRow("clear") << "Command2" << QRect(5520, 2640, 1695, 615);
}

void TestMainWindow::controlsSitWhereDrawn()
{
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    Bench bench;
    MainWindow &window = bench.open();
    QWidget *client = window.centralWidget();
    QCOMPARE(client->size(), QSize(Twips::toPxX(7290), Twips::toPxY(5565)));

    auto *control = window.findChild<QWidget *>(name);
    QVERIFY(control);
    const QRect actual(control->mapTo(client, QPoint(0, 0)), control->size());
    const QRect expected = Twips::rect(twips.x(), twips.y(), twips.width(), twips.height());
    // One pixel of rounding between a frame's offset and its child's.
    QVERIFY2(qAbs(actual.left() - expected.left()) <= 1 && qAbs(actual.top() - expected.top()) <= 1
                 && actual.size() == expected.size(),
             qPrintable(QStringLiteral("%1 at %2,%3 %4x%5").arg(name).arg(actual.x()).arg(actual.y())
                            .arg(actual.width()).arg(actual.height())));
}

void TestMainWindow::windowFaceAndTabOrder()
{
    Bench bench;
    MainWindow &window = bench.open();
    QCOMPARE(window.objectName(), QStringLiteral("tel"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Тестирование связи с блоками термометрии"));
    QCOMPARE(window.minimumSize(), window.maximumSize());
    QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(window.windowFlags() & Qt::WindowCloseButtonHint);

    auto *log = bench.child<QPlainTextEdit>("txtError");
    QCOMPARE(log->font().family(), QStringLiteral("Arial"));
    QCOMPARE(log->font().pointSizeF(), 9.75);
    QVERIFY(!log->isReadOnly());
    QCOMPARE(log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(log->accessibleName(), QStringLiteral("Окно сообщений"));

    QCOMPARE(bench.child<QPushButton>("cmdStartTest")->text(), QStringLiteral("Запуск проверки связи"));
    QCOMPARE(bench.child<QPushButton>("Command1")->text(), QStringLiteral("Проверка связи с блоком"));
    QCOMPARE(bench.child<QPushButton>("Command2")->text(), QStringLiteral("Очистить окно сообщений"));
    QCOMPARE(bench.child<QGroupBox>("Frame1")->title(), QStringLiteral("Номер Блока"));
    QCOMPARE(bench.child<QPushButton>("Command1")->parentWidget(), bench.child<QWidget>("Frame1"));
    auto *list = bench.child<QComboBox>("Combo1");
    QCOMPARE(list->parentWidget(), window.centralWidget());
    // Drawn above the frame it lies in.
    QWidget *hit = window.centralWidget()->childAt(list->geometry().center());
    QVERIFY(hit == list || list->isAncestorOf(hit));
    QVERIFY(list->isEditable());

    auto *menu = bench.child<QMenu>("mnu_nastr");
    QCOMPARE(menu->title(), QStringLiteral("Настройки"));
    QStringList items;
    for (const QAction *action : menu->actions())
        items << action->objectName() + QLatin1Char('=') + action->text();
#ifdef Q_OS_WIN
    // COM n is the system's own name there: nothing to map.
    QCOMPARE(items, (QStringList{"mnuCommPort=Параметры связи", "mnuFindInstallation=Поиск установки"}));
#else
    QCOMPARE(items, (QStringList{"mnuCommPort=Параметры связи", "mnuPortDevices=Устройства COM-портов",
                                 "mnuFindInstallation=Поиск установки"}));
#endif
    auto *timer = bench.child<QTimer>("Timer1");
    QCOMPARE(timer->interval(), 1000);
    QVERIFY(timer->isActive());

    const QStringList named = {"txtError", "cmdStartTest", "Combo1", "Command1", "Command2"};
    QStringList order;
    QWidget *w = log;
    do {
        if (named.contains(w->objectName()) && !order.contains(w->objectName()))
            order << w->objectName();
        w = w->nextInFocusChain();
    } while (w != log);
    QCOMPARE(order, named);
}

void TestMainWindow::loadPreselectsSavedBlock_data()
{
    QTest::addColumn<QString>("saved");   // "" = nothing saved
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("index");

    QTest::newRow("nothing saved") << "" << "ok" << 0;
    QTest::newRow("block 32") << "32" << "ok" << 31;
    QTest::newRow("block 0") << "0" << "ok" << 0;
    QTest::newRow("block 33") << "33" << "ok" << 0;
    QTest::newRow("not a number") << "пять" << "ok" << 0;
    QTest::newRow("port absent") << "7" << "unplugged" << 6;
}

void TestMainWindow::loadPreselectsSavedBlock()
{
    QFETCH(QString, saved);
    QFETCH(QString, scenario);
    QFETCH(int, index);
    Bench bench(scenario);
    if (!saved.isEmpty())
        bench.store->save({"NBLOCK", "BLOCK", saved});
    MainWindow &window = bench.open();

    auto *list = bench.child<QComboBox>("Combo1");
    QCOMPARE(list->count(), 32);
    for (int i = 0; i < 32; ++i)
        QCOMPARE(list->itemText(i), QStringLiteral("Блок %1").arg(i + 1));
    QCOMPARE(list->currentIndex(), index);
    QCOMPARE(list->currentText(), QStringLiteral("Блок %1").arg(index + 1));
    QCOMPARE(bench.logLines(), QStringList());
    QCOMPARE(bench.port.isOpen(), scenario == "ok");
    // Loading reads the store and writes nothing back.
    QCOMPARE(bench.saved("NBLOCK", "BLOCK"), saved.isEmpty() ? "<none>" : saved);
    QCOMPARE(bench.saved("COMPORT", "COM"), QStringLiteral("<none>"));
}

void TestMainWindow::typedBlockText_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("block");   // selected once typing ends; block 3 was selected before

    QTest::newRow("a number alone") << "7" << 7;
    QTest::newRow("an entry's text") << "Блок 12" << 12;
    QTest::newRow("any case, blanks around") << "  бЛОК 9 " << 9;
    QTest::newRow("no such block") << "Блок 40" << 3;
    QTest::newRow("block 0") << "0" << 3;
    QTest::newRow("letters") << "abc" << 3;
    QTest::newRow("nothing") << "" << 3;
}

void TestMainWindow::typedBlockText()
{
    QFETCH(QString, typed);
    QFETCH(int, block);
    Bench bench;
    bench.store->save({"NBLOCK", "BLOCK", "3"});
    MainWindow &window = bench.open();
    auto *list = bench.child<QComboBox>("Combo1");
    list->lineEdit()->selectAll();
    type(list->lineEdit(), typed + "\n");
    QCOMPARE(list->currentIndex(), block - 1);
    QCOMPARE(list->currentText(), QStringLiteral("Блок %1").arg(block));
    QCOMPARE(list->count(), 32);
}

void TestMainWindow::typedBlockIsChecked_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("block");
    QTest::newRow("7") << "7" << 7;
    QTest::newRow("abc: the entry before") << "abc" << 3;
}

void TestMainWindow::typedBlockIsChecked()
{
    // Typed without Enter, and the button pressed straight away.
    QFETCH(QString, typed);
    QFETCH(int, block);
    Bench bench;
    bench.store->save({"NBLOCK", "BLOCK", "3"});
    bench.open();
    auto *list = bench.child<QComboBox>("Combo1");
    list->lineEdit()->selectAll();
    type(list->lineEdit(), typed);
    QTest::mouseClick(bench.child<QPushButton>("Command1"), Qt::LeftButton);
    const QString n = QString::number(block);
    QCOMPARE(bench.logLines().value(0), QStringLiteral("%1: Запрос = [#%2]").arg(n, LineTests::blockAddress(block) + "02"));
    QCOMPARE(bench.logLines().value(2), n + ": Тестирование прошло успешно, блок отвечает");
    QCOMPARE(bench.saved("NBLOCK", "BLOCK"), n);
    QCOMPARE(list->currentText(), "Блок " + n);
}

void TestMainWindow::addMessage_data()
{
    QTest::addColumn<QString>("typed");   // by the operator before the lines come
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("log");

    QTest::newRow("one line") << "" << QStringList{"abc"} << "abc\r\n";
    QTest::newRow("two lines") << "" << QStringList{"a", "b"} << "a\r\nb\r\n";
    QTest::newRow("empty text") << "" << QStringList{""} << "\r\n";
    QTest::newRow("typed without Enter") << "xyz" << QStringList{"abc"} << "xyzabc\r\n";
    QTest::newRow("typed with Enter") << "xyz\n" << QStringList{"abc"} << "xyz\r\nabc\r\n";
    QTest::newRow("reply with a lone LF") << "" << QStringList{"Принято = [\n@00BSU]", "b"}
                                          << "Принято = [\n@00BSU]\r\nb\r\n";
}

void TestMainWindow::addMessage()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, lines);
    QFETCH(QString, log);
    Bench bench;
    MainWindow &window = bench.open();
    auto *box = bench.child<QPlainTextEdit>("txtError");
    type(box, typed);
    for (const QString &line : lines)
        window.addMessage(line);
    // What the operator sees: one line of the box for every line break.
    QCOMPARE(box->toPlainText(), QString(log).replace("\r\n", "\n"));

    bench.child<QPushButton>("Command2")->click();
    QCOMPARE(box->toPlainText(), QString());
    window.addMessage("x");
    QCOMPARE(box->toPlainText(), QStringLiteral("x\n"));
}

void TestMainWindow::addMessageLeavesCaretAndSelection()
{
    Bench bench;
    MainWindow &window = bench.open();
    auto *box = bench.child<QPlainTextEdit>("txtError");
    window.addMessage("first line");
    QTextCursor cursor = box->textCursor();
    cursor.setPosition(1);
    cursor.setPosition(4, QTextCursor::KeepAnchor);
    box->setTextCursor(cursor);
    window.addMessage("second line");
    QCOMPARE(box->textCursor().anchor(), 1);
    QCOMPARE(box->textCursor().position(), 4);
    QCOMPARE(bench.logLines(), (QStringList{"first line", "second line"}));
}

void TestMainWindow::buttonsRunTheirChecks_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("block");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("link test") << "cmdStartTest" << 3
                               << QStringList{"Соединение с БС обнаружено", "Принято = [@00BSU]",
                                              "Соединение с БСУ обнаружено", "Тестирование прошло успешно"};
    QTest::newRow("block 5") << "Command1" << 5
                             << QStringList{"5: Запрос = [#0502]", "5: Принято = [@05T+20.5]",
                                            "5: Тестирование прошло успешно, блок отвечает"};
}

void TestMainWindow::buttonsRunTheirChecks()
{
    QFETCH(QString, button);
    QFETCH(int, block);
    QFETCH(QStringList, lines);
    Bench bench;
    MainWindow &window = bench.open();
    bench.child<QComboBox>("Combo1")->setCurrentIndex(block - 1);
    auto *pressed = window.findChild<QPushButton *>(button);
    QTest::mouseClick(pressed, Qt::LeftButton);
    QCOMPARE(bench.logLines(), lines);
    QVERIFY(pressed->isEnabled());
    QCOMPARE(bench.saved("NBLOCK", "BLOCK"), button == "Command1" ? QString::number(block) : "<none>");
}

// A folder where the settings file should be: the start says it cannot read
// them, the block check that it cannot save, one log line each.
void TestMainWindow::settingsProblemsAreLogLines()
{
    Bench bench;
    QVERIFY(QDir().mkpath(bench.store.path()));
    MainWindow &window = bench.open();
    const QString file = QDir::toNativeSeparators(bench.store.path());
    const QString read = "Не удалось прочитать настройки из " + file
                         + ": на месте файла папка; действуют значения по умолчанию";
    QCOMPARE(bench.logLines(), QStringList{read});
    bench.child<QComboBox>("Combo1")->setCurrentIndex(4);
    QTest::mouseClick(window.findChild<QPushButton *>("Command1"), Qt::LeftButton);
    QCOMPARE(bench.logLines(), QStringList({read, "Не удалось сохранить настройки в " + file + ": на месте файла папка"})
                                   + blockLines(5, "05", "@05T+20.5", true));
}

void TestMainWindow::clearDuringACheck()
{
    Bench bench;
    MainWindow &window = bench.open();
    window.addMessage("an earlier run");
    // The БС line is written at 1000 ms; the log is emptied while the БСУ's reply is awaited.
    bench.clock.callAt(bench.clock.now() + 1200, &window,
                       [&] { bench.child<QPushButton>("Command2")->click(); });
    bench.child<QPushButton>("cmdStartTest")->click();
    QCOMPARE(bench.logLines(),
             (QStringList{"Принято = [@00BSU]", "Соединение с БСУ обнаружено", "Тестирование прошло успешно"}));
}

void TestMainWindow::busyButtonCannotStartItsCheckAgain_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("lines");
    QTest::newRow("link test") << "cmdStartTest" << 4;
    QTest::newRow("block check") << "Command1" << 3;
}

void TestMainWindow::busyButtonCannotStartItsCheckAgain()
{
    QFETCH(QString, button);
    Bench bench;
    MainWindow &window = bench.open();
    auto *pressed = window.findChild<QPushButton *>(button);
    bool enabledWhileBusy = true;
    // The impatient operator clicks again while the check waits for the line.
    bench.clock.callAt(bench.clock.now() + 500, &window, [&] {
        enabledWhileBusy = pressed->isEnabled();
        QTest::mouseClick(pressed, Qt::LeftButton);
    });
    const qint64 start = bench.clock.now();
    QTest::mouseClick(pressed, Qt::LeftButton);
    QVERIFY(!enabledWhileBusy);
    QTEST(int(bench.logLines().size()), "lines");
    QCOMPARE(bench.port.written().count('#'), button == "Command1" ? 2 : 1);
    QCOMPARE(bench.clock.now() - start, qint64(button == "Command1" ? 2500 : 1500));
    QVERIFY(pressed->isEnabled());
}

void TestMainWindow::oneCheckAtATime_data()
{
    QTest::addColumn<QString>("started");   // the control that starts the check
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("link test") << "cmdStartTest"
                               << QStringList{"Соединение с БС обнаружено", "Принято = [@00BSU]",
                                              "Соединение с БСУ обнаружено", "Тестирование прошло успешно"};
    QTest::newRow("block check") << "Command1"
                                 << QStringList{"1: Запрос = [#0102]", "1: Принято = [@01T+18.5]",
                                                "1: Тестирование прошло успешно, блок отвечает"};
}

void TestMainWindow::oneCheckAtATime()
{
    QFETCH(QString, started);
    QFETCH(QStringList, lines);
    Bench bench;
    MainWindow &window = bench.open();
    window.show();
    const QStringList buttons = {"cmdStartTest", "Command1"};
    QList<QAction *> items = {window.findChild<QAction *>("mnuCommPort"),
                              window.findChild<QAction *>("mnuFindInstallation")};
    if (auto *devices = window.findChild<QAction *>("mnuPortDevices"))
        items << devices;
    QStringList enabledWhileBusy;
    // Every 400 ms of the check: what can be used, and a click on each other button.
    for (int at = 400; at < 2500; at += 400) {
        bench.clock.callAt(bench.clock.now() + at, &window, [&, at] {
            for (const QString &name : buttons) {
                auto *button = window.findChild<QPushButton *>(name);
                if (button->isEnabled())
                    enabledWhileBusy << QStringLiteral("%1 at %2").arg(name).arg(at);
                QTest::mouseClick(button, Qt::LeftButton);
            }
            for (QAction *item : items) {
                if (item->isEnabled())
                    enabledWhileBusy << QStringLiteral("%1 at %2").arg(item->objectName()).arg(at);
            }
            if (!bench.child<QPushButton>("Command2")->isEnabled())
                enabledWhileBusy << QStringLiteral("Command2 disabled at %1").arg(at);
        });
    }
    QTest::mouseClick(window.findChild<QPushButton *>(started), Qt::LeftButton);
    QCOMPARE(enabledWhileBusy, QStringList());
    QCOMPARE(bench.logLines(), lines);
    // Only the check's own queries went out.
    QCOMPARE(bench.port.written().count('#'), started == "Command1" ? 2 : 1);
    for (const QString &name : buttons)
        QVERIFY2(window.findChild<QPushButton *>(name)->isEnabled(), qPrintable(name));
    for (QAction *item : items)
        QVERIFY2(item->isEnabled(), qPrintable(item->objectName()));
}

void TestMainWindow::scanFromTheMenuAndStop()
{
    Bench bench("blocks=1-3");
    MainWindow &window = bench.open();
    window.show();
    auto *scanItem = window.findChild<QAction *>("mnuScanAll");
    QCOMPARE(window.findChild<QMenu *>("mnuCheck")->title(), QStringLiteral("Проверка"));
    QCOMPARE(scanItem->text(), QStringLiteral("Проверка всех блоков"));
    QStringList seen;
    // At 3000 ms block 5 is having its second: the buttons are disabled, a click does nothing, the item stops.
    bench.clock.callAt(bench.clock.now() + 3000, &window, [&] {
        for (const char *name : {"cmdStartTest", "Command1"}) {
            auto *button = bench.child<QPushButton>(name);
            seen << QStringLiteral("%1 %2").arg(name).arg(button->isEnabled());
            QTest::mouseClick(button, Qt::LeftButton);
        }
        seen << QStringLiteral("mnuCommPort %1").arg(window.findChild<QAction *>("mnuCommPort")->isEnabled());
        seen << scanItem->text() + QStringLiteral(" %1").arg(scanItem->isEnabled());
        scanItem->trigger();
    });
    // The item answers at once: the scan starts once its handler has returned.
    scanItem->trigger();
    QCOMPARE(scanItem->text(), QStringLiteral("Остановить проверку"));
    QCOMPARE(bench.port.written(), QByteArray());
    QCoreApplication::processEvents();
    QCOMPARE(seen, (QStringList{"cmdStartTest 0", "Command1 0", "mnuCommPort 0", "Остановить проверку 1"}));
    const QStringList lines = bench.logLines();
    QCOMPARE(lines.mid(0, 4), (QStringList{"Соединение с БС обнаружено", "Принято = [@00BSU]",
                                           "Соединение с БСУ обнаружено", "Тестирование прошло успешно"}));
    QCOMPARE(lines.mid(lines.size() - 5), (QStringList{"5: Запрос = [#0502]", "5: Принято = []",
                                                       "5: Нет ответа от блока номер 5 ?", "Проверка остановлена",
                                                       "Отвечают блоки: 1-3 (3 из 5)"}));
    QCOMPARE(bench.port.written().count('#'), 6);
    QCOMPARE(scanItem->text(), QStringLiteral("Проверка всех блоков"));
    QVERIFY(scanItem->isEnabled());
    QVERIFY(bench.child<QPushButton>("cmdStartTest")->isEnabled());
    QVERIFY(bench.child<QPushButton>("Command1")->isEnabled());
}

void TestMainWindow::scanEndsWhenThePortIsLost()
{
    Bench bench("blocks=1-3");
    MainWindow &window = bench.open();
    window.show();
    // At 1600 ms block 3 has answered and block 4 is having its second.
    bench.clock.callAt(bench.clock.now() + 1600, &window, [&] { bench.port.setUnplugged(true); });
    auto *scanItem = window.findChild<QAction *>("mnuScanAll");
    scanItem->trigger();
    QCoreApplication::processEvents();
    QCOMPARE(bench.logLines().mid(13), (QStringList{"4: Запрос = [#0402]", "Отвечают блоки: 1-3 (3 из 3)",
                                                    "Порт закрылся во время проверки (адаптер отключён?): её итог недостоверен"}));
    QCOMPARE(scanItem->text(), QStringLiteral("Проверка всех блоков"));
}

void TestMainWindow::savedLogFile_data()
{
    QTest::addColumn<QString>("simulation");   // the scenario; "" a real port
    QTest::newRow("real port") << "";
    QTest::newRow("simulated") << "flaky=5";
}

void TestMainWindow::savedLogFile()
{
    QFETCH(QString, simulation);
    Bench bench;
    MainWindow &window = bench.open();
    if (!simulation.isEmpty())
        window.showSimulation(simulation);
    window.show();
    window.addMessage("Принято = [@00BSU]");
    window.addMessage("Тестирование прошло успешно");
    QTemporaryDir folder;
    const QString path = folder.filePath("журнал.txt");
#ifdef Q_OS_WIN
    // Windows says where a user's documents are; nothing is saved there here.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString device = QStringLiteral("COM2");
#else
    // The user's documents folder, here a temporary one.
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", folder.path().toUtf8());
    const auto restoreHome = qScopeGuard([&] { qputenv("HOME", home); });
    QVERIFY(QDir(folder.path()).mkpath("Documents"));
    const QString documents = folder.filePath("Documents");
    const QString device = QStringLiteral("/dev/ttyS1");
#endif
    QString suggested;
    QTimer::singleShot(0, &window, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        suggested = dialog->selectedFiles().value(0);
        // selectFile() leaves a name field alone while it has the focus, as it
        // has where the window system activates the dialog (Windows).
        if (QWidget *focused = dialog->focusWidget())
            focused->clearFocus();
        dialog->selectFile(path);
        static_cast<QDialog *>(dialog)->accept();
    });
    QCOMPARE(window.findChild<QAction *>("mnuSaveLog")->shortcut(), QKeySequence(QKeySequence::Save));
    window.findChild<QAction *>("mnuSaveLog")->trigger();

    static const QRegularExpression defaultName("/linkprobe-\\d{4}-\\d\\d-\\d\\d-\\d{4}\\.txt$");
    QVERIFY2(defaultName.match(suggested).hasMatch(), qPrintable(suggested));
    QCOMPARE(QFileInfo(suggested).absolutePath(), QDir(documents).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const QList<QByteArray> lines = bytes.split('\n');
    QCOMPARE(lines.size(), 7);
    QVERIFY(lines.at(0).startsWith(QStringLiteral("Журнал проверки связи, сохранён ").toUtf8()));
    const QString port = simulation.isEmpty() ? "устройство " + device : "имитация установки \"flaky=5\"";
    QCOMPARE(lines.at(1), QStringLiteral("Порт: COM2, %1, скорость 4800 бод\r").arg(port).toUtf8());
    QVERIFY(lines.at(2).startsWith(QStringLiteral("Программа: linkprobe").toUtf8()));
    QCOMPARE(bytes.mid(bytes.indexOf("\r\n\r\n") + 4),
             QStringLiteral("Принято = [@00BSU]\r\nТестирование прошло успешно\r\n").toUtf8());
    QCOMPARE(bytes.count("\r\n"), bytes.count('\n'));

    // "Очистить" in the menu is the button's.
    window.findChild<QAction *>("mnuClearLog")->trigger();
    QCOMPARE(bench.logLines(), QStringList());
}

// A simulated window says so; the search and the device mapping, which reach
// the system's real ports, are off in it, also once a check gives the menus back.
void TestMainWindow::simulatedWindowReachesNoRealPort()
{
    Bench bench;
    MainWindow &window = bench.open();
    window.showSimulation("ok");
    QVERIFY(window.windowTitle().endsWith(QStringLiteral(" — имитация")));
    QCOMPARE(bench.child<StatusBar>("StatusBar1")->panelText(2), QStringLiteral("Имитация установки \"ok\""));
    bench.child<QPushButton>("cmdStartTest")->click();
    QCOMPARE(bench.logLines().constLast(), QStringLiteral("Тестирование прошло успешно"));
    for (const char *name : {"mnuFindInstallation", "mnuPortDevices"}) {
        const QAction *action = bench.child<QAction>(name);   // no device mapping on Windows
        QVERIFY2(!action || !action->isEnabled(), name);
    }
}

// A log that cannot be written is told in a message box, and nothing is left behind.
void TestMainWindow::failedLogSaveIsTold()
{
    Bench bench;
    MainWindow &window = bench.open();
    window.show();
    window.addMessage("Тестирование прошло успешно");
    QTemporaryDir folder;
    const QString path = folder.filePath("нет такой папки/журнал.txt");
    QString told;
    QTimer::singleShot(0, &window, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        if (QWidget *focused = dialog->focusWidget())
            focused->clearFocus();
        dialog->selectFile(path);
        static_cast<QDialog *>(dialog)->accept();
    });
    // The message box comes once the file dialog has closed.
    QTimer boxWatch;
    connect(&boxWatch, &QTimer::timeout, &window, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            told = box->windowTitle() + "|" + box->text();
            box->accept();
        }
    });
    boxWatch.start(10);
    window.findChild<QAction *>("mnuSaveLog")->trigger();
    boxWatch.stop();

    // (Qt's own file dialog takes a path into a folder that is not there as
    // relative to the folder it shows; the box names the path it tried.)
    QVERIFY2(told.startsWith(QStringLiteral("Сохранение журнала|Журнал не сохранён в файл ")), qPrintable(told));
    QVERIFY2(told.contains(QDir::toNativeSeparators(QStringLiteral("/нет такой папки/журнал.txt:\n"))), qPrintable(told));
    QCOMPARE(QDir(folder.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    QCOMPARE(bench.logLines(), QStringList{"Тестирование прошло успешно"});
}

void TestMainWindow::closeClosesAnOpenPortOnly_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("closings");

    QTest::newRow("port open") << "ok" << 1;
    QTest::newRow("port absent") << "unplugged" << 0;
}

void TestMainWindow::closeClosesAnOpenPortOnly()
{
    QFETCH(QString, scenario);
    QFETCH(int, closings);
    Bench bench(scenario);
    MainWindow &window = bench.open();
    window.show();
    const int openings = bench.port.openCount();
    QCOMPARE(bench.port.closeRequests, 0);
    QVERIFY(window.close());
    QCOMPARE(bench.port.closeRequests, closings);
    QVERIFY(!bench.port.isOpen());
    QCOMPARE(bench.port.openCount(), openings);
    QVERIFY(!bench.child<QTimer>("Timer1")->isActive());
}

void TestMainWindow::closeDuringACheck_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("closeAtMs");

    QTest::newRow("link test, lines settling") << "cmdStartTest" << 500;
    QTest::newRow("link test, БСУ reply") << "cmdStartTest" << 1200;
    QTest::newRow("block check, link test") << "Command1" << 700;
    QTest::newRow("block check, block reply") << "Command1" << 2000;
}

void TestMainWindow::closeDuringACheck()
{
    QFETCH(QString, button);
    QFETCH(int, closeAtMs);
    Bench bench;
    MainWindow &window = bench.open();
    window.show();
    const qint64 closeAt = bench.clock.now() + closeAtMs;
    bench.clock.callAt(closeAt, &window, [&] { window.close(); });
    window.findChild<QPushButton *>(button)->click();

    QVERIFY(!window.isVisible());
    QVERIFY(!bench.port.isOpen());
    // Every wait still under way returned at once: no time passed after the close.
    QCOMPARE(bench.clock.now(), closeAt);
    // The check went on to its end against the closed port and wrote into the
    // window that is still there.
    QVERIFY(!bench.logLines().isEmpty());
    QVERIFY(window.findChild<QPushButton *>(button)->isEnabled());
}

void TestMainWindow::closeDuringACheckEndsTheProgram()
{
    Bench bench;
    MainWindow &window = bench.open();
    window.show();
    bool timedOut = false;
    QTimer::singleShot(0, &window, [&] {
        bench.clock.callAt(bench.clock.now() + 1200, &window, [&] { window.close(); });
        bench.child<QPushButton>("Command1")->click();
    });
    QTimer::singleShot(10000, qApp, [&] {
        timedOut = true;
        qApp->exit(1);
    });
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!timedOut);
    QVERIFY(!bench.port.isOpen());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
