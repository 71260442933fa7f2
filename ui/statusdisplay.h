#pragma once

#include <QString>

class SerialPort;
class StatusBar;

// One refresh of the status bar from the port, at every tick of the main window's status timer:
// panel 1 the port and its line settings ("COM2:4800,n,8,1"), panels 3 to 6 the lines RTS, DTR, CTS
// and DSR; "COM??", "Порт не открыт!" and "???" while the port is closed.
void showPortStatus(SerialPort &port, qint16 comPort, StatusBar &bar);
