#pragma once

#include "checks/blockstatistics.h"
#include "checks/checksession.h"
#include "checks/operatorpanel.h"
#include "link/settings.h"
#include "link/systemports.h"
#include "ui/blockmapwindow.h"
#include "ui/checkgate.h"
#include "ui/portsettingsdialog.h"

#include <QMainWindow>

class BlockScan;
class InstallationWatch;
class QAction;
class QComboBox;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class StatusBar;

// The main window: message log, the buttons of the two checks, the block selector, the status bar and
// the menus. It is the checks' operator panel and holds their session (state, stopwatch, checks, port opening).
class MainWindow : public QMainWindow, public OperatorPanel
{
    Q_OBJECT
public:
    MainWindow(SerialPort &port, SettingsStore &store, Clock &clock, QWidget *parent = nullptr);
    ~MainWindow() override;

    // OperatorPanel
    void addMessage(const QString &text) override;
    void setButtonEnabled(Button button, bool enabled) override;

    const CheckState &state() const { return m_session.state(); }
    // The port settings dialog from its first showing to a use of its close box.
    PortSettingsDialog *portSettingsDialog() const { return m_dialog; }

    // Where the window learns which serial ports the system has (for the
    // device mapping and the search); the system's own list unless set.
    void setPortDetection(std::function<QList<DetectedPort>()> detect) { m_detectPorts = std::move(detect); }

    // The window runs on a simulated installation (the scenario as written): its title, status bar and
    // saved logs say so, and the search and the device mapping, made for real ports, are off.
    void showSimulation(const QString &scenario);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void buildMenus();
    void refreshStatus();
    void configurePort();
    void takeTypedBlock();
    void checkBlock();
    void mapPortDevices();
    void findInstallation();
    void scanOrStop();
    void watchOrStop();
    // Starts check (run by `run`) unless another check runs or the window closes: it runs until it ends or its
    // item, which reads stopText meanwhile, stops it; `running` points to it till then.
    template<typename Check>
    void startStoppable(QAction *item, const QString &stopText, Check *&running, Check *check,
                        const std::function<void()> &run);
    // Before a check: a line for each other program that has the port open too.
    void warnOfSharedPort();
    void saveLog();
    void showBlockMap();
    void recordLinkTest(int verdict);
    void refreshMap(int block);
    void saveReport();

    SerialPort &m_port;
    SettingsStore &m_store;
    Settings m_settings;   // as read at the start, and as changed since
    CheckSession m_session;
    CheckGate m_checkGate;
    QPointer<PortSettingsDialog> m_dialog;
    bool m_closing = false;
    QString m_simulation;   // the scenario of a simulated installation, "" on a real port
    std::function<QList<DetectedPort>()> m_detectPorts = detectedPorts;

    QPlainTextEdit *m_messageLog = nullptr;
    StatusBar *m_statusBar = nullptr;
    QPushButton *m_linkTestButton = nullptr;
    QComboBox *m_blockSelector = nullptr;
    QPushButton *m_blockCheckButton = nullptr;
    QAction *m_portDevicesAction = nullptr;   // not on Windows: COM n is the system's own name there
    QAction *m_findAction = nullptr;
    QAction *m_scanAction = nullptr;   // reads "Остановить проверку" while the scan runs
    QAction *m_watchAction = nullptr;  // reads "Остановить наблюдение" while the watch runs
    QTimer *m_statusTimer = nullptr;
    BlockScan *m_scan = nullptr;       // the scan under way
    InstallationWatch *m_watch = nullptr;   // the watch under way

    BlockStatistics m_statistics;      // what the block map and the report show
    QPointer<BlockMapWindow> m_map;
};
