#include "ui/portsettingsdialog.h"

#include "ui/combobox.h"
#include "ui/twips.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QPushButton>

namespace {

constexpr qint32 kBauds[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 256000};

QPushButton *plainButton(QWidget *parent, const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

}

PortSettingsDialog::PortSettingsDialog(PortSettingsAnswer &answer, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_answer(answer)
{
    setObjectName(QStringLiteral("Dialog"));
    setWindowTitle(QStringLiteral("Выбор проследовательного порта"));
    setModal(true);
    setFont(Twips::formFont());
    setFixedSize(Twips::size(4275, 1200));

    m_okButton = plainButton(this, "OKButton", QStringLiteral("Принять"));
    m_okButton->setGeometry(Twips::rect(2880, 120, 1215, 375));
    m_cancelButton = plainButton(this, "CancelButton", QStringLiteral("Выйти"));
    m_cancelButton->setGeometry(Twips::rect(2880, 600, 1215, 375));
    m_portList = newEditableCombo(this, "cmbCommPort");
    m_portList->setGeometry(Twips::rect(120, 120, 2535, 315));
    m_baudList = newEditableCombo(this, "cmbBaud");
    m_baudList->setGeometry(Twips::rect(120, 600, 2535, 315));

    setTabOrder(m_okButton, m_cancelButton);
    setTabOrder(m_cancelButton, m_portList);
    setTabOrder(m_portList, m_baudList);

    connect(m_okButton, &QPushButton::clicked, this, &PortSettingsDialog::acceptChoice);
    connect(m_cancelButton, &QPushButton::clicked, this, &PortSettingsDialog::leaveUnchanged);

    load();
}

void PortSettingsDialog::load()
{
    m_answer = PortSettingsAnswer();
    m_portList->addItem(QStringLiteral("порт без изменений"));
    for (int i = 1; i <= 8; ++i)
        m_portList->addItem(QStringLiteral("COM") + QString::number(i));
    m_baudList->addItem(QStringLiteral("скорость без изменений"));
    for (qint32 rate : kBauds)
        m_baudList->addItem(QString::number(rate) + QStringLiteral(" бод"));
    m_baudList->setCurrentIndex(0);
    m_portList->setCurrentIndex(0);
    m_okButton->setFocus();
}

void PortSettingsDialog::acceptChoice()
{
    // Text typed into the port box names no port: the port in use stays.
    const int port = selectedEntry(m_portList);
    m_answer.comPort = qint16(port >= 1 && port <= 8 ? port : 0);
    const int rate = selectedEntry(m_baudList);
    m_answer.baudRate = rate >= 1 && rate <= 8 ? kBauds[rate - 1] : 0;
    hide();
}

void PortSettingsDialog::leaveUnchanged()
{
    m_answer = PortSettingsAnswer();
    hide();
}

void PortSettingsDialog::closeEvent(QCloseEvent *event)
{
    m_unloaded = true;
    QDialog::closeEvent(event);
}

void PortSettingsDialog::keyPressEvent(QKeyEvent *event)
{
    // The dialog has no cancel button: Esc would hide it and leave the last
    // answer to be applied again, so it does nothing here.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
