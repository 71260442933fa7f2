#pragma once

#include <QString>

class SerialPort;
class Stopwatch;

// One request and its reply: drops what is waiting, sends command + CR LF in
// one write, waits the full timeoutMs and returns what arrived, control bytes
// other than CR and LF shown as "?". "" when nothing arrived.
QString sendCommand(SerialPort &port, Stopwatch &stopwatch, const QString &command, qint32 timeoutMs);

// The reply text for received bytes as sendCommand shows them.
QString maskReply(const QByteArray &bytes);

// The part of a reply before its first CR (all of it when there is none).
QString cutAtFirstCr(const QString &reply);
