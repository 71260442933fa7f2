#pragma once

#include <QDialog>

class QComboBox;

struct PortSettingsAnswer
{
    qint16 comPort = 0;    // chosen COM port, 0 = keep the port in use
    qint32 baudRate = 0;   // chosen baud rate, 0 = keep the rate in use
};

// Port settings dialog: COM1 to COM8 and the baud rates 2400 to 256000, each list with an entry that
// keeps the value in use. It only collects the choice; the main window saves it and reopens the port.
// "Принять" and "Выйти" hide it and keep the selections for the next showing.
class PortSettingsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit PortSettingsDialog(QWidget *parent = nullptr);

    // The entries taken by "Принять", nothing after "Выйти"; the close box leaves the answer as it was.
    PortSettingsAnswer answer() const { return m_answer; }

    // The close box was used: the next showing needs a fresh dialog.
    bool unloaded() const { return m_unloaded; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    PortSettingsAnswer m_answer;
    QComboBox *m_portList;
    QComboBox *m_baudList;
    bool m_unloaded = false;
};
