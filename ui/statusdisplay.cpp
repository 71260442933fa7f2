#include "ui/statusdisplay.h"

#include "link/serialport.h"
#include "ui/statusbar.h"

namespace {

const QString kOff = QStringLiteral("   ");

}

QString portStatusText(qint16 comPort, qint32 baudRate)
{
    return QStringLiteral("COM%1:%2,n,8,1").arg(comPort).arg(baudRate);
}

void showPortStatus(SerialPort &port, qint16 comPort, StatusBar &bar)
{
    if (port.isOpen()) {
        bar.setPanelText(1, portStatusText(comPort, port.baudRate()));
        // A port reopened through the settings dialog must not stand beside
        // the "not open" notice of the ticks before.
        bar.setPanelText(2, QString());
        bar.setPanelText(3, port.rts() ? QStringLiteral("RTS") : kOff);
        bar.setPanelText(4, port.dtr() ? QStringLiteral("DTR") : kOff);
        bar.setPanelText(5, port.cts() ? QStringLiteral("CTS") : kOff);
        bar.setPanelText(6, port.dsr() ? QStringLiteral("DSR") : kOff);
    } else {
        bar.setPanelText(1, QStringLiteral("COM??"));
        bar.setPanelText(2, QStringLiteral("Порт не открыт!"));
        for (int panel = 3; panel <= 6; ++panel)
            bar.setPanelText(panel, QStringLiteral("???"));
    }
}
