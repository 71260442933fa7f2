#include "ui/statusdisplay.h"

#include "link/serialport.h"
#include "ui/statusbar.h"

void showPortStatus(SerialPort &port, qint16 comPort, StatusBar &bar)
{
    const QString off = QStringLiteral("   ");
    if (port.isOpen()) {
        bar.setPanelText(1, QStringLiteral("COM%1:%2,n,8,1").arg(comPort).arg(port.baudRate()));
        // A port reopened through the settings dialog must not stand beside
        // the "not open" notice of the ticks before.
        bar.setPanelText(2, QString());
        bar.setPanelText(3, port.rts() ? QStringLiteral("RTS") : off);
        bar.setPanelText(4, port.dtr() ? QStringLiteral("DTR") : off);
        bar.setPanelText(5, port.cts() ? QStringLiteral("CTS") : off);
        bar.setPanelText(6, port.dsr() ? QStringLiteral("DSR") : off);
    } else {
        bar.setPanelText(1, QStringLiteral("COM??"));
        bar.setPanelText(2, QStringLiteral("Порт не открыт!"));
        for (int panel = 3; panel <= 6; ++panel)
            bar.setPanelText(panel, QStringLiteral("???"));
    }
}
