#pragma once

#include <QtGlobal>

// What the checks of one window (or one run of linkprobe-check) share for as
// long as it lives.
struct CheckState
{
    qint16 comPort = 0;        // COM port number in use
    qint32 baudRate = 0;       // baud rate in use
    qint16 blockNumber = 0;    // block last chosen, 1 to 32 after every opening of the port
};
