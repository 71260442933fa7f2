#include "ui/tel.h"

#include "link/openport.h"
#include "link/serialport.h"
#include "link/settingsstore.h"
#include "ui/captionbutton.h"
#include "ui/combobox.h"
#include "ui/statusbar.h"
#include "ui/statusdisplay.h"
#include "ui/twips.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLayout>
#include <QGuiApplication>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

QPushButton *newButton(QWidget *parent, const char *name, const QString &caption)
{
    auto *button = new CaptionButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    return button;
}

}

tel::tel(SerialPort &MSComm1, SettingsStore &store, Clock &clock, QWidget *parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                              | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                              | Qt::WindowCloseButtonHint),
      MSComm1(MSComm1),
      m_store(store),
      m_wait(clock),
      m_tests(m_state, MSComm1, m_wait, store, *this)
{
    setObjectName(QStringLiteral("tel"));
    setWindowTitle(QStringLiteral("Тестирование связи с блоками термометрии"));
    setFont(Twips::formFont());
    buildControls();
    Form_Load();

    // Fixed border: the window is always exactly the client area and its menu bar.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    layout()->activate();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                        screen->availableGeometry()));
}

tel::~tel() = default;

void tel::buildControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(Twips::size(7290, 5565));
    setCentralWidget(client);

    txtError = new QPlainTextEdit(client);
    txtError->setObjectName(QStringLiteral("txtError"));
    txtError->setGeometry(Twips::rect(120, 120, 5295, 5040));
    txtError->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtError->setTabChangesFocus(true);
    QFont logFont(QStringLiteral("Arial"));
    logFont.setPointSizeF(9.75);
    logFont.setWeight(QFont::Normal);
    txtError->setFont(logFont);
    connect(txtError->document(), &QTextDocument::contentsChanged, this, &tel::logEdited);

    StatusBar1 = new StatusBar(client);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setGeometry(Twips::rect(0, 5190, 7290, 375));

    cmdStartTest = newButton(client, "cmdStartTest", QStringLiteral("Запуск проверки связи"));
    cmdStartTest->setGeometry(Twips::rect(5520, 120, 1695, 615));

    Frame1 = new QGroupBox(QStringLiteral("Номер Блока"), client);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(Twips::rect(5520, 960, 1695, 1575));

    Command1 = newButton(Frame1, "Command1", QStringLiteral("Проверка связи с блоком"));
    Command1->setGeometry(Twips::rect(120, 840, 1455, 615));

    // The selector belongs to the window, not to the frame, and lies over it.
    Combo1 = newEditableCombo(client, "Combo1");
    Combo1->setGeometry(Twips::rect(5640, 1320, 1455, 315));
    Combo1->raise();

    Command2 = newButton(client, "Command2", QStringLiteral("Очистить окно сообщений"));
    Command2->setGeometry(Twips::rect(5520, 2640, 1695, 615));

    setTabOrder(txtError, cmdStartTest);
    setTabOrder(cmdStartTest, Combo1);
    setTabOrder(Combo1, Command1);
    setTabOrder(Command1, Command2);

    mnu_nastr = menuBar()->addMenu(QStringLiteral("Настройки"));
    mnu_nastr->setObjectName(QStringLiteral("mnu_nastr"));
    mnuCommPort = mnu_nastr->addAction(QStringLiteral("Параметры связи"));
    mnuCommPort->setObjectName(QStringLiteral("mnuCommPort"));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));

    connect(cmdStartTest, &QPushButton::clicked, this, &tel::cmdStartTest_Click);
    connect(Command1, &QPushButton::clicked, this, &tel::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &tel::Command2_Click);
    connect(mnuCommPort, &QAction::triggered, this, &tel::ConfigurePort);
    connect(Timer1, &QTimer::timeout, this, &tel::Timer1_Timer);
    connect(&MSComm1, &SerialPort::OnComm, this, &tel::MSComm1_OnComm);
}

void tel::Form_Load()
{
    for (int panel = 1; panel <= 4; ++panel)
        StatusBar1->setPanelWidth(panel, 500);
    for (int i = 1; i <= 32; ++i)
        Combo1->addItem(QStringLiteral("Блок ") + QString::number(i));
    Timer1->setInterval(1000);
    m_state.QuietMode = false;
    OpenPort(m_state, MSComm1, m_store);
    Combo1->setCurrentIndex(m_state.BlockNo >= 1 && m_state.BlockNo <= 32 ? m_state.BlockNo - 1 : 0);
    Timer1->start();
}

void tel::AddMessage(const QString &text)
{
    if (!m_logExact) {
        m_log = logText();
        m_logExact = true;
    }
    const QString line = text + kCrLf;
    // The view follows the newest line only when it was already at the end:
    // an operator reading further up is left where he is.
    QScrollBar *bar = txtError->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    m_appending = true;
    QTextCursor end(txtError->document());
    end.movePosition(QTextCursor::End);
    end.insertText(line);
    m_appending = false;
    m_log += line;
    if (atEnd)
        bar->setValue(bar->maximum());
}

QString tel::logText() const
{
    if (m_logExact)
        return m_log;
    return txtError->toPlainText().replace(QLatin1Char('\n'), kCrLf);
}

void tel::logEdited()
{
    if (!m_appending)
        m_logExact = false;
}

void tel::setButtonEnabled(Button button, bool enabled)
{
    switch (button) {
    case Button::StartTest:
        cmdStartTest->setEnabled(enabled);
        break;
    case Button::BlockCheck:
        Command1->setEnabled(enabled);
        break;
    }
}

int tel::blockListIndex() const
{
    return selectedEntry(Combo1);
}

void tel::cmdStartTest_Click()
{
    m_tests.linkTest();
}

void tel::Command1_Click()
{
    m_tests.blockCheck();
}

void tel::Command2_Click()
{
    m_appending = true;
    txtError->clear();
    m_appending = false;
    m_log.clear();
    m_logExact = true;
}

void tel::Timer1_Timer()
{
    showPortStatus(MSComm1, *StatusBar1);
}

void tel::MSComm1_OnComm()
{
    // Line events carry nothing the checks or the operator act on.
    (void)MSComm1.CommEvent();
}

void tel::ConfigurePort()
{
    if (m_closing)
        return;
    if (m_dialog && m_dialog->isVisible())
        return;
    if (!m_dialog)
        m_dialog = new Dialog(m_dialogAnswer, this);
    m_dialog->exec();
    if (m_dialog && m_dialog->unloaded()) {
        // The close box is done with this window; a handler below may still
        // be inside one of its calls, so it goes once control is back.
        m_dialog->deleteLater();
        m_dialog = nullptr;
    }
    if (m_closing)
        return;

    bool saved = false;
    const qint16 ncom = m_dialogAnswer.ncom;
    const qint32 baud = m_dialogAnswer.baud;
    if (ncom >= 1 && ncom <= 8) {
        m_state.CurPort = ncom;
        m_store.save(kApp, QStringLiteral("COMPORT"), QStringLiteral("COM"), QString::number(ncom));
        saved = true;
    }
    if (baud > 0) {
        m_state.CurBaud = baud;
        m_store.save(kApp, QStringLiteral("COMPORT"), QStringLiteral("BAUD"), QString::number(baud));
        saved = true;
    }
    if (saved)
        OpenPort(m_state, MSComm1, m_store);
}

void tel::closeEvent(QCloseEvent *event)
{
    m_closing = true;
    Timer1->stop();
    if (MSComm1.PortOpen())
        MSComm1.setPortOpen(false);
    // A check waiting below this handler returns from its wait at once; the
    // window itself lives on until the event loop has returned.
    m_wait.abandon();
    if (m_dialog && m_dialog->isVisible())
        m_dialog->hide();
    event->accept();
}
