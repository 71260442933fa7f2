#include "ui/mainwindow.h"

#include "checks/blockscan.h"
#include "checks/installationsearch.h"
#include "checks/watch.h"
#include "link/portlist.h"
#include "link/serialport.h"
#include "link/settingsstore.h"
#include "link/wholefile.h"
#include "report/installationreport.h"
#include "ui/captionbutton.h"
#include "ui/combobox.h"
#include "ui/portdevicesdialog.h"
#include "ui/statusbar.h"
#include "ui/statusdisplay.h"
#include "ui/twips.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <memory>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

template<typename Receiver, typename Handler>
QAction *addItem(QMenu *menu, const QString &caption, const char *name, Receiver *receiver, Handler handler)
{
    QAction *item = menu->addAction(caption);
    item->setObjectName(QLatin1String(name));
    QObject::connect(item, &QAction::triggered, receiver, handler);
    return item;
}

// The block that text typed into the block selector names: "7", "Блок 7",
// in any case, blanks around; 0 when it names no block 1 to 32.
int blockNamedBy(const QString &typed)
{
    static const QRegularExpression named(QStringLiteral("^\\s*(?:блок)?\\s*([0-9]{1,2})\\s*$"),
                                          QRegularExpression::CaseInsensitiveOption
                                              | QRegularExpression::UseUnicodePropertiesOption);
    const QRegularExpressionMatch match = named.match(typed);
    const int n = match.hasMatch() ? match.captured(1).toInt() : 0;
    return n >= 1 && n <= BlockStatistics::kBlocks ? n : 0;
}

// A save dialog that offers fileName in the documents folder, else in the home folder: a bare name
// would be taken as relative to the working folder.
void offerFile(QFileDialog &dialog, const char *name, const QString &fileName)
{
    dialog.setObjectName(QLatin1String(name));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!QDir(folder).exists())
        folder = QDir::homePath();
    dialog.setDirectory(folder);
    dialog.selectFile(QDir(folder).filePath(fileName));
}

// A field of the report in a row of its own under Qt's file dialog.
QLineEdit *addReportField(QFileDialog &dialog, const QString &caption, const char *name, const QString &text)
{
    auto *edit = new QLineEdit(text, &dialog);
    edit->setObjectName(QLatin1String(name));
    auto *grid = qobject_cast<QGridLayout *>(dialog.layout());
    if (!grid)
        return edit;
    auto *label = new QLabel(caption, &dialog);
    label->setBuddy(edit);
    const int row = grid->rowCount();
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1, 1, grid->columnCount() - 1);
    return edit;
}

} // namespace

MainWindow::MainWindow(SerialPort &port, SettingsStore &store, Clock &clock, QWidget *parent)
    : QMainWindow(parent, Qt::Window | Twips::kFixedBorder | Qt::WindowMinimizeButtonHint),
      m_port(port),
      m_store(store),
      m_session(port, store, clock, *this)
{
    setObjectName(QStringLiteral("tel"));
    setWindowTitle(QStringLiteral("Тестирование связи с блоками термометрии"));
    setFont(Twips::formFont());
    buildControls();
    buildMenus();
    // A settings file that cannot be read or saved is one line in the log.
    m_store.setProblemHandler([this](const QString &text) { addMessage(text); });
    for (int panel = 1; panel <= 4; ++panel)
        m_statusBar->setPanelWidth(panel, 500);
    for (int i = 1; i <= BlockStatistics::kBlocks; ++i)
        m_blockSelector->addItem(QStringLiteral("Блок ") + QString::number(i));
    m_settings = Settings::load(m_store);
    QString installationProblem;
    m_statistics.setInstalled(installedBlocks(m_settings.installedBlocks, &installationProblem));
    if (!installationProblem.isEmpty())
        addMessage(installationProblem);
    m_statusTimer = new QTimer(this);
    m_statusTimer->setObjectName(QStringLiteral("Timer1"));
    connect(m_statusTimer, &QTimer::timeout, this, &MainWindow::refreshStatus);
    m_session.openPort(m_settings);
    const qint16 block = m_session.state().blockNumber;
    m_blockSelector->setCurrentIndex(block >= 1 && block <= BlockStatistics::kBlocks ? block - 1 : 0);
    m_statusTimer->start(1000);

    // Fixed border: the window is always exactly the client area and its menu bar.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    layout()->activate();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                        screen->availableGeometry()));
}

MainWindow::~MainWindow()
{
    m_store.setProblemHandler(nullptr);
    // The window's own teardown closes it, and the block selector, losing the focus then, finishes its
    // editing when this part of the window is gone: nothing of it may be called then.
    m_blockSelector->lineEdit()->disconnect(this);
}

// The checks start through the gate, which holds every other control while one runs.
void MainWindow::buildControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(Twips::toPxSize(7290, 5565));
    setCentralWidget(client);

    m_messageLog = new QPlainTextEdit(client);
    m_messageLog->setObjectName(QStringLiteral("txtError"));
    m_messageLog->setGeometry(Twips::rect(120, 120, 5295, 5040));
    m_messageLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_messageLog->setTabChangesFocus(true);
    QFont logFont(QStringLiteral("Arial"), -1, QFont::Normal);
    logFont.setPointSizeF(9.75);
    m_messageLog->setFont(logFont);
    m_messageLog->setAccessibleName(QStringLiteral("Окно сообщений"));

    m_statusBar = new StatusBar(client);
    m_statusBar->setObjectName(QStringLiteral("StatusBar1"));
    m_statusBar->setGeometry(Twips::rect(0, 5190, 7290, 375));

    m_linkTestButton = newFormButton(client, "cmdStartTest", QStringLiteral("Запуск проверки связи"),
                                     Twips::rect(5520, 120, 1695, 615));
    auto *blockFrame = new QGroupBox(QStringLiteral("Номер Блока"), client);
    blockFrame->setObjectName(QStringLiteral("Frame1"));
    blockFrame->setGeometry(Twips::rect(5520, 960, 1695, 1575));
    m_blockCheckButton = newFormButton(blockFrame, "Command1", QStringLiteral("Проверка связи с блоком"),
                                       Twips::rect(120, 840, 1455, 615));
    // The selector belongs to the window, not to the frame, and lies over it.
    m_blockSelector = newEditableCombo(client, "Combo1");
    m_blockSelector->setGeometry(Twips::rect(5640, 1320, 1455, 315));
    m_blockSelector->raise();
    QPushButton *clearButton = newFormButton(client, "Command2", QStringLiteral("Очистить окно сообщений"),
                                             Twips::rect(5520, 2640, 1695, 615));

    const QList<QWidget *> tabOrder{m_messageLog, m_linkTestButton, m_blockSelector, m_blockCheckButton, clearButton};
    for (int i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder.at(i - 1), tabOrder.at(i));

    m_checkGate.guard(m_linkTestButton);
    m_checkGate.guard(m_blockCheckButton);
    connect(m_linkTestButton, &QPushButton::clicked, this, [this] {
        m_checkGate.run([this] {
            warnOfSharedPort();
            recordLinkTest(m_session.tests().linkTest(ReplyEnd::FullWait).verdict);
        });
    });
    connect(m_blockCheckButton, &QPushButton::clicked, this, &MainWindow::checkBlock);
    connect(m_blockSelector->lineEdit(), &QLineEdit::editingFinished, this, &MainWindow::takeTypedBlock);
    connect(clearButton, &QPushButton::clicked, m_messageLog, &QPlainTextEdit::clear);
}

void MainWindow::checkBlock()
{
    takeTypedBlock();
    m_checkGate.run([this] {
        warnOfSharedPort();
        // Typed text was taken or refused above; the entry selected before stands otherwise.
        const BlockCheckResult checked =
            m_session.tests().blockCheck(m_blockSelector->currentIndex() + 1, ReplyEnd::FullWait);
        // The block checked is saved by the check; a reopened port keeps it.
        m_settings.blockNumber = m_session.state().blockNumber;
        // A port closed at the start ran no link test: there is nothing to record.
        if (checked.link.verdict == LineTests::PortNotOpen)
            return;
        recordLinkTest(checked.link.verdict);
        const BlockReading &block = checked.block;
        if (block.number > 0 && !block.portLost) {
            m_statistics.add(block, QDateTime::currentDateTime());
            refreshMap(block.number);
        }
    });
}

void MainWindow::buildMenus()
{
    QMenu *settings = menuBar()->addMenu(QStringLiteral("Настройки"));
    settings->setObjectName(QStringLiteral("mnu_nastr"));
    QAction *portSettings = addItem(settings, QStringLiteral("Параметры связи"), "mnuCommPort", this,
                                    &MainWindow::configurePort);
#ifndef Q_OS_WIN
    m_portDevicesAction = addItem(settings, QStringLiteral("Устройства COM-портов"), "mnuPortDevices", this,
                                  &MainWindow::mapPortDevices);
#endif
    m_findAction = addItem(settings, QStringLiteral("Поиск установки"), "mnuFindInstallation", this,
                           &MainWindow::findInstallation);

    QMenu *check = menuBar()->addMenu(QStringLiteral("Проверка"));
    check->setObjectName(QStringLiteral("mnuCheck"));
    m_scanAction = addItem(check, QStringLiteral("Проверка всех блоков"), "mnuScanAll", this, &MainWindow::scanOrStop);
    check->addSeparator();
    m_watchAction = addItem(check, QStringLiteral("Наблюдение за установкой"), "mnuWatch", this,
                            &MainWindow::watchOrStop);
    addItem(check, QStringLiteral("Карта блоков"), "mnuBlockMap", this, &MainWindow::showBlockMap);

    QMenu *log = menuBar()->addMenu(QStringLiteral("Журнал"));
    log->setObjectName(QStringLiteral("mnuLog"));
    addItem(log, QStringLiteral("Сохранить журнал…"), "mnuSaveLog", this, &MainWindow::saveLog)
        ->setShortcut(QKeySequence::Save);
    QAction *saveReport = addItem(log, QStringLiteral("Сохранить отчёт…"), "mnuSaveReport", this,
                                  &MainWindow::saveReport);
    addItem(log, QStringLiteral("Очистить"), "mnuClearLog", m_messageLog, &QPlainTextEdit::clear);

    // The report's dialog too: one open over a check would hold its wait, and the reply times with it.
    for (QAction *item : {portSettings, m_findAction, m_scanAction, m_portDevicesAction, m_watchAction, saveReport})
        m_checkGate.guard(item);
}

void MainWindow::addMessage(const QString &text)
{
    // CR LF ends each line, as the log was always written; the widget shows it, and a lone CR or LF of
    // a reply, as a line break. The view follows only from its end: an operator reading further up stays.
    QScrollBar *bar = m_messageLog->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    QTextCursor end(m_messageLog->document());
    end.movePosition(QTextCursor::End);
    end.insertText(text + kCrLf);
    if (atEnd)
        bar->setValue(bar->maximum());
}

void MainWindow::setButtonEnabled(Button button, bool enabled)
{
    // A check inside another (the block check's link test) leaves the buttons
    // to the gate: they come back when the outer check ends.
    (button == Button::LinkTest ? m_linkTestButton : m_blockCheckButton)->setEnabled(enabled && !m_checkGate.busy());
}

void MainWindow::takeTypedBlock()
{
    const int named = blockNamedBy(m_blockSelector->currentText());
    const int index = named > 0 ? named - 1 : m_blockSelector->currentIndex();
    m_blockSelector->setCurrentIndex(index);
    m_blockSelector->setEditText(m_blockSelector->itemText(index));
}

void MainWindow::refreshStatus()
{
    // A closed port (absent at start, or its adapter pulled) is tried again at every tick, so a replugged
    // adapter is back without the dialog; a failed try costs one open() a second and says nothing.
    if (!m_port.isOpen() && !m_closing && !m_checkGate.busy())
        m_session.openPort(m_settings);
    showPortStatus(m_port, m_session.state().comPort, *m_statusBar);
    if (!m_simulation.isEmpty()) {
        const QString simulated = QStringLiteral("Имитация установки \"%1\"").arg(m_simulation);
        m_statusBar->setPanelText(2, (m_port.isOpen() ? QString() : QStringLiteral("Порт не открыт! ")) + simulated);
    }
}

void MainWindow::configurePort()
{
    if (m_closing || (m_dialog && m_dialog->isVisible()))
        return;
    if (!m_dialog)
        m_dialog = new PortSettingsDialog(this);
    m_dialog->exec();
    PortSettingsAnswer answer = m_dialog ? m_dialog->answer() : PortSettingsAnswer();
    if (m_dialog && m_dialog->unloaded()) {
        // The close box is done with this window; a handler below may still
        // be inside one of its calls, so it goes once control is back.
        m_dialog->deleteLater();
        m_dialog = nullptr;
    }
    if (m_closing)
        return;

    // The open port tries a new rate before it is saved: one it refuses is told and not kept.
    const bool samePort = answer.comPort == 0 || answer.comPort == m_session.state().comPort;
    if (answer.baudRate > 0 && samePort && m_port.isOpen() && answer.baudRate != m_port.baudRate()
        && !m_port.setBaudRate(answer.baudRate)) {
        addMessage(QStringLiteral("COM%1 (%2): скорость %3 бод не поддерживается портом")
                       .arg(QString::number(m_session.state().comPort), m_port.device(),
                            QString::number(answer.baudRate)));
        answer.baudRate = 0;
    }
    // The chosen values hold for this window even when the file refuses them.
    if (answer.comPort > 0) {
        m_settings.comPort = answer.comPort;
        m_settings.save(m_store, Settings::Key::ComPort);
    }
    if (answer.baudRate > 0) {
        m_settings.baudRate = answer.baudRate;
        m_settings.save(m_store, Settings::Key::BaudRate);
    }
    if (answer.comPort > 0 || answer.baudRate > 0)
        m_session.openPort(m_settings);
}

void MainWindow::mapPortDevices()
{
    if (m_closing || m_checkGate.busy() || !m_simulation.isEmpty())
        return;
    const QMap<qint16, QString> saved = m_settings.portDevices;
    QPointer<PortDevicesDialog> dialog = new PortDevicesDialog(listPorts(m_settings, m_detectPorts()), saved, this);
    const bool accepted = dialog->exec() == QDialog::Accepted;
    const QMap<qint16, QString> chosen = dialog ? dialog->chosen() : saved;
    // A handler below may still be inside one of its calls: it goes once control is back.
    if (dialog)
        dialog->deleteLater();
    if (!accepted || m_closing)
        return;

    bool portInUseChanged = false;
    for (auto it = chosen.cbegin(); it != chosen.cend(); ++it) {
        if (it.value() == saved.value(it.key()))
            continue;
        // "" brings the system's default back: no value is ever deleted.
        Settings::savePortDevice(m_store, it.key(), it.value());
        if (it.value().isEmpty())
            m_settings.portDevices.remove(it.key());
        else
            m_settings.portDevices.insert(it.key(), it.value());
        portInUseChanged = portInUseChanged || it.key() == m_session.state().comPort;
    }
    if (portInUseChanged)
        m_session.openPort(m_settings);
}

void MainWindow::findInstallation()
{
    if (m_closing || !m_simulation.isEmpty())
        return;
    m_checkGate.runSoon(this, [this] {
        // The window's own port is searched like any other: it lets go of it first.
        m_port.close();
        const QList<DetectedPort> detected = m_detectPorts();
        InstallationSearch search(m_port, m_session.stopwatch(), *this);
        const SearchResult result = search.run(searchCandidates(m_settings, detected), m_settings.baudRate);
        if (m_closing)
            return;

        if (const SearchCandidate *found = result.installation()) {
            QMessageBox question(QMessageBox::Question, QStringLiteral("Поиск установки"),
                                 QStringLiteral("Установка найдена: %1, %2 бод.\n"
                                                "Использовать этот порт и эту скорость?")
                                     .arg(found->device, QString::number(found->baudRate)),
                                 QMessageBox::NoButton, this);
            question.setObjectName(QStringLiteral("FoundQuestion"));
            QPushButton *yes = question.addButton(QStringLiteral("Да"), QMessageBox::YesRole);
            question.setEscapeButton(question.addButton(QStringLiteral("Нет"), QMessageBox::NoRole));
            question.setDefaultButton(yes);
            question.exec();
            if (m_closing)
                return;
            if (question.clickedButton() == yes) {
                const SavedInstallation saved = saveFoundInstallation(m_store, *found, detected);
                if (saved.comPort == 0) {
                    QMessageBox::warning(
                        this, QStringLiteral("Поиск установки"),
                        QStringLiteral("Порт не сохранён: у каждого из COM1-COM8 уже есть своё устройство.\n"
                                       "Назначьте устройство в меню Настройки - Устройства COM-портов."));
                } else {
                    m_settings.comPort = saved.comPort;
                    m_settings.baudRate = found->baudRate;
                    m_settings.portDevices.insert(saved.comPort, saved.device);
                }
            }
        }
        // Opened again: the one found, or the one in use before.
        m_session.openPort(m_settings);
    });
}

void MainWindow::scanOrStop()
{
    if (m_scan) {
        m_scan->requestStop();
        return;
    }
    auto scan = std::make_shared<BlockScan>(m_session.tests(), m_port, *this);
    scan->setBlocks(m_statistics.installed());
    scan->onLinkTest = [this](const LinkResult &link) {
        m_statistics.addRound();
        recordLinkTest(link.verdict);
    };
    scan->onBlock = [this](const BlockReading &reading) {
        m_statistics.add(reading, QDateTime::currentDateTime());
        refreshMap(reading.number);
    };
    // A port lost mid-scan is told by the scan itself, after its summary.
    startStoppable(m_scanAction, QStringLiteral("Остановить проверку"), m_scan, scan.get(),
                   [scan] { scan->run(ReplyEnd::AtFirstCr); });
}

void MainWindow::watchOrStop()
{
    if (m_watch) {
        m_watch->requestStop();
        return;
    }
    auto watch = std::make_shared<InstallationWatch>(m_session, *this, m_statistics);
    watch->onChange = [this](int block) { refreshMap(block); };
    // A port lost mid-watch is told by the watch itself.
    startStoppable(m_watchAction, QStringLiteral("Остановить наблюдение"), m_watch, watch.get(),
                   [watch] { watch->run(); });
}

template<typename Check>
void MainWindow::startStoppable(QAction *item, const QString &stopText, Check *&running, Check *check,
                                const std::function<void()> &run)
{
    if (m_closing)
        return;
    const QString text = item->text();
    const bool started = m_checkGate.runSoon(this, [this, item, text, &running, run] {
        warnOfSharedPort();
        run();
        running = nullptr;
        item->setText(text);
    });
    if (!started)
        return;
    running = check;
    // The one item left usable while the check runs: it stops it.
    item->setText(stopText);
    item->setEnabled(true);
}

void MainWindow::warnOfSharedPort()
{
    // Only a real port can be shared; the simulated one's device name is borrowed.
    if (!m_port.isOpen() || !m_port.isSystemDevice())
        return;
    const QString name = QStringLiteral("COM%1 (%2)").arg(QString::number(m_session.state().comPort), m_port.device());
    for (const QString &line : sharedPortWarnings(name, portUsers(m_port.device(), QCoreApplication::applicationPid())))
        addMessage(line);
}

void MainWindow::saveLog()
{
    const QDateTime now = QDateTime::currentDateTime();
    QFileDialog dialog(this, QStringLiteral("Сохранить журнал"));
    dialog.setNameFilter(QStringLiteral("Текстовые файлы (*.txt);;Все файлы (*)"));
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    offerFile(dialog, "saveLogDialog", now.toString(QStringLiteral("'linkprobe-'yyyy-MM-dd-HHmm'.txt'")));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty() || m_closing)
        return;
    const QString path = dialog.selectedFiles().constFirst();

    // A header that says where and when, then the log as the operator sees it.
    const CheckState &state = m_session.state();
    const QString port = m_simulation.isEmpty() ? QStringLiteral("устройство ") + m_port.device()
                                                : QStringLiteral("имитация установки \"%1\"").arg(m_simulation);
    const QStringList lines{
        QStringLiteral("Журнал проверки связи, сохранён ") + now.toString(kDateTimeFormat),
        QStringLiteral("Порт: COM%1, %2, скорость %3 бод")
            .arg(QString::number(state.comPort), port, QString::number(state.baudRate)),
        QStringLiteral("Программа: linkprobe ") + QCoreApplication::applicationVersion(),
        QString(),
        m_messageLog->toPlainText().replace(QLatin1Char('\n'), kCrLf)};

    // All or nothing: a file that cannot be written whole keeps what it held.
    const QString failure = writeWholeFile(path, lines.join(kCrLf).toUtf8());
    if (!failure.isEmpty()) {
        QMessageBox::critical(this, QStringLiteral("Сохранение журнала"),
                              QStringLiteral("Журнал не сохранён в файл %1:\n%2")
                                  .arg(QDir::toNativeSeparators(path), failure));
    }
}

void MainWindow::showSimulation(const QString &scenario)
{
    m_simulation = scenario;
    setWindowTitle(windowTitle() + QStringLiteral(" — имитация"));
    for (QAction *realPortsOnly : {m_findAction, m_portDevicesAction}) {
        if (!realPortsOnly)
            continue;
        m_checkGate.release(realPortsOnly);
        realPortsOnly->setEnabled(false);
        realPortsOnly->setText(realPortsOnly->text() + QStringLiteral(" (только для настоящих портов)"));
    }
    refreshStatus();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    m_closing = true;
    m_statusTimer->stop();
    if (m_port.isOpen())
        m_port.close();
    // A check waiting below returns from its wait at once; the window lives on until the event loop returns.
    m_session.stopwatch().abandon();
    if (m_dialog && m_dialog->isVisible())
        m_dialog->hide();
    if (m_map)
        m_map->hide();
    if (m_watch)
        m_watch->requestStop();
    event->accept();
}

void MainWindow::showBlockMap()
{
    if (m_closing)
        return;
    if (!m_map) {
        m_map = new BlockMapWindow(m_statistics, m_store, m_settings, this);
        m_map->adjustSize();
        // Beside the main window where the screen leaves room, else below it.
        const QRect main = frameGeometry();
        QRect place(main.topRight() + QPoint(8, 0), m_map->sizeHint());
        if (const QScreen *screen = this->screen()) {
            const QRect free = screen->availableGeometry();
            if (place.right() > free.right())
                place.moveTopLeft(main.bottomLeft() + QPoint(0, 8));
            if (place.bottom() > free.bottom())
                place.moveBottom(free.bottom());
            if (place.right() > free.right())
                place.moveRight(free.right());
        }
        m_map->move(place.topLeft());
    }
    m_map->show();
    m_map->raise();
    m_map->activateWindow();
}

void MainWindow::recordLinkTest(int verdict)
{
    m_statistics.addLinkTest(verdict);
    refreshMap(0);
}

void MainWindow::refreshMap(int block)
{
    if (m_map)
        m_map->refreshBlock(block);
}

void MainWindow::saveReport()
{
    if (m_closing)
        return;
    const QDateTime now = QDateTime::currentDateTime();
    QFileDialog dialog(this, QStringLiteral("Сохранить отчёт"));
    // Qt's own dialog: the object and the technician are typed in it.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    const QString pdfFilter = QStringLiteral("Отчёт PDF (*.pdf)");
    const QString csvFilter = QStringLiteral("Таблица CSV (*.csv)");
    dialog.setNameFilters({pdfFilter, csvFilter});
    dialog.setDefaultSuffix(QStringLiteral("pdf"));
    offerFile(dialog, "saveReportDialog", now.toString(QStringLiteral("'linkprobe-отчёт-'yyyy-MM-dd-HHmm'.pdf'")));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString &filter) {
        dialog.setDefaultSuffix(filter == csvFilter ? QStringLiteral("csv") : QStringLiteral("pdf"));
    });

    QLineEdit *objectEdit = addReportField(dialog, QStringLiteral("Объект:"), "reportObject", m_settings.reportObject);
    QLineEdit *technicianEdit =
        addReportField(dialog, QStringLiteral("Проверил:"), "reportTechnician", m_settings.reportTechnician);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty() || m_closing)
        return;
    QString path = dialog.selectedFiles().constFirst();
    // A name typed with another ending gets the chosen type's.
    if (InstallationReport::formatFor(path) == InstallationReport::Format::Unknown)
        path += dialog.selectedNameFilter() == csvFilter ? QStringLiteral(".csv") : QStringLiteral(".pdf");

    InstallationReport::Header header;
    header.made = now;
    header.object = objectEdit->text().trimmed();
    header.technician = technicianEdit->text().trimmed();
    m_settings.reportObject = header.object;
    m_settings.reportTechnician = header.technician;
    m_settings.save(m_store, Settings::Key::ReportObject);
    m_settings.save(m_store, Settings::Key::ReportTechnician);
    header.port = QStringLiteral("COM%1").arg(m_session.state().comPort);
    header.device = m_port.device();
    header.baud = m_session.state().baudRate;
    header.version = QCoreApplication::applicationVersion();
    QString why;
    if (!InstallationReport::save(path, header, m_statistics, &why)) {
        QMessageBox::critical(this, QStringLiteral("Сохранение отчёта"),
                              QStringLiteral("Отчёт не сохранён в файл %1:\n%2")
                                  .arg(QDir::toNativeSeparators(path), why));
    }
}
