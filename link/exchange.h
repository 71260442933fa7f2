#pragma once

#include <QString>

class SerialPort;
class Stopwatch;

// How the wait for a reply ends.
enum class ReplyEnd {
    FullWait,     // always after the full time, whatever has come
    AtFirstCr,    // as soon as a CR has come (what precedes it is the whole
                  // reply as the checks read it) and the LF that ends the line
                  // with it, else after the full time
};

// One request and its reply: drops what is waiting, sends command + CR LF in
// one write, waits for the reply and returns what arrived, control bytes
// shown as "?" except CR and an LF after the first CR. "" when nothing arrived.
QString sendCommand(SerialPort &port, Stopwatch &stopwatch, const QString &command, qint32 timeoutMs,
                    ReplyEnd end = ReplyEnd::FullWait);

// The reply text for received bytes as sendCommand shows them.
QString maskReply(const QByteArray &bytes);

// The part of a reply before its first CR (all of it when there is none).
QString cutAtFirstCr(const QString &reply);

// Whether a reply, cut at its first CR, filled the port's receive buffer: the
// device said more without a line end, and that was dropped.
bool replyFilledBuffer(const QString &cutReply);
