#pragma once

#include <QString>

class SerialPort;
class Stopwatch;

// One request and its reply: drops what is waiting, sends cmd + CR LF in one
// write, waits the full tmo and returns what arrived, control bytes other than
// CR and LF shown as "?". "" when nothing arrived.
QString SendCommand(SerialPort &MSComm1, Stopwatch &wait, const QString &cmd, const qint32 &tmo);

// The reply text for received bytes as SendCommand shows them.
QString maskReply(const QByteArray &bytes);

// The part of a reply before its first CR (all of it when there is none).
QString cutAtFirstCr(const QString &reply);
