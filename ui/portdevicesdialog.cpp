#include "ui/portdevicesdialog.h"

#include "ui/twips.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// "ttyUSB0 - FT232R USB UART (FTDI)"
QString deviceCaption(const PortListing &port)
{
    QString caption = QFileInfo(port.device).fileName();
    if (!port.description.isEmpty())
        caption += QStringLiteral(" - ") + port.description;
    if (!port.manufacturer.isEmpty() && !port.description.contains(port.manufacturer))
        caption += QStringLiteral(" (") + port.manufacturer + QLatin1Char(')');
    return caption;
}

// The list shows the device saved for its COM number, "" for the default.
void selectMapped(QComboBox *list, const QString &mapped)
{
    if (mapped.isEmpty())
        return;
    int at = list->findData(mapped);
    // The saved name may be the device itself or another name of it.
    for (int i = 1; at < 0 && i < list->count(); ++i) {
        if (resolvedDevice(list->itemData(i).toString()) == resolvedDevice(mapped))
            at = i;
    }
    if (at < 0) {
        // Kept as it is, even when the device is not there now: an
        // adapter that is out at the moment keeps its COM number.
        const bool present = QFileInfo::exists(mapped);
        list->addItem(present ? mapped : mapped + QStringLiteral(" (нет в системе)"), mapped);
        at = list->count() - 1;
    }
    list->setCurrentIndex(at);
}

} // namespace

PortDevicesDialog::PortDevicesDialog(const QList<PortListing> &ports, const QMap<qint16, QString> &current,
                                     QWidget *parent)
    : QDialog(parent, Qt::Dialog | Twips::kFixedBorder)
{
    setObjectName(QStringLiteral("PortDevicesDialog"));
    setWindowTitle(QStringLiteral("Устройства COM-портов"));
    setModal(true);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Какое устройство открывать для каждого COM-порта.\n"
                                                "Адаптер USB запоминается по постоянному имени\n"
                                                "и находится в любом гнезде."),
                                 this));
    auto *form = new QFormLayout;
    layout->addLayout(form);

    for (qint16 n = 1; n <= kComPorts; ++n) {
        auto *list = new QComboBox(this);
        list->setObjectName(QStringLiteral("cmbDeviceCOM") + QString::number(n));
        list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        list->addItem(QStringLiteral("по умолчанию (/dev/ttyS%1)").arg(n - 1), QString());
        for (const PortListing &port : ports) {
            if (!port.detected)
                continue;
            const QString saved = port.stablePath.isEmpty() ? port.device : port.stablePath;
            list->addItem(deviceCaption(port), saved);
            list->setItemData(list->count() - 1, saved, Qt::ToolTipRole);
        }
        selectMapped(list, current.value(n).trimmed());
        form->addRow(QStringLiteral("COM") + QString::number(n), list);
        m_lists << list;
    }

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *ok = buttons->addButton(QStringLiteral("Принять"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("OKButton"));
    QPushButton *cancel = buttons->addButton(QStringLiteral("Выйти"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QMap<qint16, QString> PortDevicesDialog::chosen() const
{
    QMap<qint16, QString> devices;
    for (int i = 0; i < m_lists.size(); ++i)
        devices.insert(qint16(i + 1), m_lists.at(i)->currentData().toString());
    return devices;
}
