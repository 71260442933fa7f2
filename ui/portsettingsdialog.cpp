#include "ui/portsettingsdialog.h"

#include "ui/captionbutton.h"
#include "ui/combobox.h"
#include "ui/twips.h"

#include "link/settings.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QPushButton>

namespace {

// The value of the entry shown in the box's field. An editable box keeps its current index while the
// operator types over the field: once the field no longer shows that entry, no entry is selected,
// whatever was typed, and the value in use stays (0).
qint32 chosenValue(const QComboBox *box)
{
    const int current = box->currentIndex();
    return box->itemText(current) == box->currentText() ? box->itemData(current).toInt() : 0;
}

} // namespace

PortSettingsDialog::PortSettingsDialog(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Twips::kFixedBorder)
{
    setObjectName(QStringLiteral("Dialog"));
    setWindowTitle(QStringLiteral("Выбор проследовательного порта"));
    setModal(true);
    setFont(Twips::formFont());
    setFixedSize(Twips::toPxSize(4275, 1200));

    QPushButton *ok =
        newFormButton<QPushButton>(this, "OKButton", QStringLiteral("Принять"), Twips::rect(2880, 120, 1215, 375));
    QPushButton *cancel =
        newFormButton<QPushButton>(this, "CancelButton", QStringLiteral("Выйти"), Twips::rect(2880, 600, 1215, 375));
    m_portList = newEditableCombo(this, "cmbCommPort");
    m_portList->setGeometry(Twips::rect(120, 120, 2535, 315));
    m_baudList = newEditableCombo(this, "cmbBaud");
    m_baudList->setGeometry(Twips::rect(120, 600, 2535, 315));
    setTabOrder(ok, cancel);
    setTabOrder(cancel, m_portList);
    setTabOrder(m_portList, m_baudList);

    // Each entry carries its value; the first, 0, keeps the value in use.
    m_portList->addItem(QStringLiteral("порт без изменений"), 0);
    for (int i = 1; i <= 8; ++i)
        m_portList->addItem(QStringLiteral("COM") + QString::number(i), i);
    m_baudList->addItem(QStringLiteral("скорость без изменений"), 0);
    for (const qint32 rate : Settings::kBaudRates)
        m_baudList->addItem(QString::number(rate) + QStringLiteral(" бод"), rate);
    ok->setFocus();

    connect(ok, &QPushButton::clicked, this, [this] {
        m_answer.comPort = qint16(chosenValue(m_portList));
        m_answer.baudRate = chosenValue(m_baudList);
        hide();
    });
    connect(cancel, &QPushButton::clicked, this, [this] {
        m_answer = PortSettingsAnswer();
        hide();
    });
}

void PortSettingsDialog::closeEvent(QCloseEvent *event)
{
    m_unloaded = true;
    QDialog::closeEvent(event);
}

void PortSettingsDialog::keyPressEvent(QKeyEvent *event)
{
    // Esc would hide the dialog and leave the last answer to be applied again: here it does nothing.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
