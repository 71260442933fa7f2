#pragma once

#include <QString>

class SerialPort;
class StatusBar;

// The port as panel 1 shows it: "COM2:4800,n,8,1".
QString portStatusText(qint16 comPort, qint32 baudRate);

// One refresh of the status bar from the port: panel 1 the port and its line
// settings, panels 3 to 6 the lines RTS, DTR, CTS and DSR; "COM??",
// "Порт не открыт!" and "???" while the port is closed. Runs on every tick of
// the main window's status timer and changes nothing but the panels.
void showPortStatus(SerialPort &port, qint16 comPort, StatusBar &bar);
