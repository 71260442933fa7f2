#include "ui/statusdisplay.h"

#include "link/serialport.h"
#include "ui/statusbar.h"

namespace {

const QString kOff = QStringLiteral("   ");

}

void showPortStatus(SerialPort &MSComm1, StatusBar &StatusBar1)
{
    if (MSComm1.PortOpen()) {
        const qint16 port = MSComm1.CommPort();
        const QString settings = MSComm1.Settings();
        const QString portText = QStringLiteral("COM") + QString::number(port) + QLatin1Char(':') + settings;
        if (StatusBar1.panelText(1) != portText)
            StatusBar1.setPanelText(1, portText);
        // A port reopened through the settings dialog must not stand beside
        // the "not open" notice of the ticks before.
        if (!StatusBar1.panelText(2).isEmpty())
            StatusBar1.setPanelText(2, QString());
        StatusBar1.setPanelText(3, MSComm1.RTSEnable() ? QStringLiteral("RTS") : kOff);
        StatusBar1.setPanelText(4, MSComm1.DTREnable() ? QStringLiteral("DTR") : kOff);
        StatusBar1.setPanelText(5, MSComm1.CTSHolding() ? QStringLiteral("CTS") : kOff);
        StatusBar1.setPanelText(6, MSComm1.DSRHolding() ? QStringLiteral("DSR") : kOff);
    } else {
        StatusBar1.setPanelText(1, QStringLiteral("COM??"));
        StatusBar1.setPanelText(2, QStringLiteral("Порт не открыт!"));
        for (int panel = 3; panel <= 6; ++panel)
            StatusBar1.setPanelText(panel, QStringLiteral("???"));
    }
}
