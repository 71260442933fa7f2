#include "ui/dialog.h"

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

Dialog::Dialog(DialogAnswer &answer, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      ncom(answer.ncom), baud(answer.baud)
{
    setObjectName(QStringLiteral("Dialog"));
    setWindowTitle(QStringLiteral("Выбор проследовательного порта"));
    setModal(true);
    setFont(Twips::formFont());
    setFixedSize(Twips::size(4275, 1200));

    OKButton = plainButton(this, "OKButton", QStringLiteral("Принять"));
    OKButton->setGeometry(Twips::rect(2880, 120, 1215, 375));
    CancelButton = plainButton(this, "CancelButton", QStringLiteral("Выйти"));
    CancelButton->setGeometry(Twips::rect(2880, 600, 1215, 375));
    cmbCommPort = newEditableCombo(this, "cmbCommPort");
    cmbCommPort->setGeometry(Twips::rect(120, 120, 2535, 315));
    cmbBaud = newEditableCombo(this, "cmbBaud");
    cmbBaud->setGeometry(Twips::rect(120, 600, 2535, 315));

    setTabOrder(OKButton, CancelButton);
    setTabOrder(CancelButton, cmbCommPort);
    setTabOrder(cmbCommPort, cmbBaud);

    connect(OKButton, &QPushButton::clicked, this, &Dialog::OKButton_Click);
    connect(CancelButton, &QPushButton::clicked, this, &Dialog::CancelButton_Click);

    Form_Load();
}

void Dialog::Form_Load()
{
    ncom = 0;
    baud = 0;
    cmbCommPort->addItem(QStringLiteral("порт без изменений"));
    for (int i = 1; i <= 8; ++i)
        cmbCommPort->addItem(QStringLiteral("COM") + QString::number(i));
    cmbBaud->addItem(QStringLiteral("скорость без изменений"));
    for (qint32 rate : kBauds)
        cmbBaud->addItem(QString::number(rate) + QStringLiteral(" бод"));
    cmbBaud->setCurrentIndex(0);
    cmbCommPort->setCurrentIndex(0);
    OKButton->setFocus();
}

void Dialog::OKButton_Click()
{
    // Text typed into the port box names no port: the port in use stays.
    const int port = selectedEntry(cmbCommPort);
    ncom = qint16(port >= 1 && port <= 8 ? port : 0);
    const int rate = selectedEntry(cmbBaud);
    baud = rate >= 1 && rate <= 8 ? kBauds[rate - 1] : 0;
    hide();
}

void Dialog::CancelButton_Click()
{
    ncom = 0;
    baud = 0;
    hide();
}

void Dialog::closeEvent(QCloseEvent *event)
{
    m_unloaded = true;
    QDialog::closeEvent(event);
}

void Dialog::keyPressEvent(QKeyEvent *event)
{
    // The dialog has no cancel button: Esc would hide it and leave the last
    // answer to be applied again, so it does nothing here.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
