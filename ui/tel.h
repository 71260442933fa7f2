#pragma once

#include "checks/linetests.h"
#include "checks/operatorpanel.h"
#include "link/telstate.h"
#include "link/wait.h"
#include "ui/dialog.h"

#include <QMainWindow>
#include <QPointer>

class Clock;
class QAction;
class QComboBox;
class QGroupBox;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class SerialPort;
class SettingsStore;
class StatusBar;

// The main window: message log, the buttons of the two checks, the block
// selector, the status bar and the settings menu. It owns the state that its
// procedures share, the stopwatch of every wait and the checks built on them.
class tel : public QMainWindow, public OperatorPanel
{
    Q_OBJECT
public:
    tel(SerialPort &MSComm1, SettingsStore &store, Clock &clock, QWidget *parent = nullptr);
    ~tel() override;

    // OperatorPanel
    void AddMessage(const QString &text) override;
    void setButtonEnabled(Button button, bool enabled) override;
    int blockListIndex() const override;

    // The log as its text: lines end in CR LF, as AddMessage wrote them.
    QString logText() const;

    const TelState &state() const { return m_state; }
    // The port settings dialog while it exists (between its first showing
    // and a use of its close box).
    Dialog *dialog() const { return m_dialog; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void Form_Load();
    void cmdStartTest_Click();
    void Command1_Click();
    void Command2_Click();
    void Timer1_Timer();
    void MSComm1_OnComm();
    void ConfigurePort();
    void logEdited();

    SerialPort &MSComm1;
    SettingsStore &m_store;
    TelState m_state;
    Stopwatch m_wait;
    LineTests m_tests;
    DialogAnswer m_dialogAnswer;
    QPointer<Dialog> m_dialog;
    bool m_closing = false;

    // The log's text exactly as written: the widget turns CR LF and a lone CR
    // or LF alike into a line break. Rebuilt from the widget once the
    // operator has edited the log.
    QString m_log;
    bool m_logExact = true;
    bool m_appending = false;

    QPlainTextEdit *txtError = nullptr;
    StatusBar *StatusBar1 = nullptr;
    QPushButton *cmdStartTest = nullptr;
    QComboBox *Combo1 = nullptr;
    QGroupBox *Frame1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QMenu *mnu_nastr = nullptr;
    QAction *mnuCommPort = nullptr;
    QTimer *Timer1 = nullptr;
};
