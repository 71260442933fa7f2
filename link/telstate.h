#pragma once

#include <QtGlobal>

// State the main window shares between its procedures for as long as it lives.
struct TelState
{
    qint16 CurPort = 0;   // COM port number in use
    qint32 CurBaud = 0;   // baud rate in use
    qint16 BlockNo = 0;   // block number, 1 to 32 after every OpenPort
    bool QuietMode = false;
    bool LinkOk = false;
};
