#pragma once

#include "link/portlist.h"

#include <QDialog>
#include <QMap>

class QComboBox;

// Which device each of COM1 to COM8 stands for: a device the system has (shown with its description)
// or the system's default. A device is kept by its by-id name where it has one, so that the choice
// follows the adapter into another socket. The dialog only collects the choice; the main window saves it.
class PortDevicesDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kComPorts = 8;

    // current: the device saved for each COM number ("" = the default).
    PortDevicesDialog(const QList<PortListing> &ports, const QMap<qint16, QString> &current,
                      QWidget *parent = nullptr);

    // The chosen device for each of COM1 to COM8, "" for the default.
    QMap<qint16, QString> chosen() const;

private:
    QList<QComboBox *> m_lists;
};
