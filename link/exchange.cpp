#include "link/exchange.h"

#include "link/cp1251.h"
#include "link/serialport.h"
#include "link/wait.h"

QString maskReply(const QByteArray &bytes)
{
    QString reply;
    reply.reserve(bytes.size());
    bool crCame = false;
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        // An LF before the first CR would be a line break inside the part the
        // checks show: a device could write lines of its own into the log.
        const bool lineBreak = b == 13 || (b == 10 && crCame);
        crCame = crCame || b == 13;
        if (b < 32 && !lineBreak)
            reply += QLatin1Char('?');
        else
            reply += cp1251ToUnicode(b);
    }
    return reply;
}

QString cutAtFirstCr(const QString &reply)
{
    return reply.section(QLatin1Char('\r'), 0, 0);
}

bool replyFilledBuffer(const QString &cutReply)
{
    // One character a byte: maskReply keeps the count.
    return cutReply.size() >= SerialPort::kReceiveBufferBytes;
}

QString sendCommand(SerialPort &port, Stopwatch &stopwatch, const QString &command, qint32 timeoutMs,
                    ReplyEnd end)
{
    // Whatever is waiting (a late answer, noise) is never taken for the reply.
    port.readAll();
    port.write((command + QStringLiteral("\r\n")).toLatin1());
    if (end == ReplyEnd::FullWait) {
        // The exchange takes the full time, even when the reply is complete sooner.
        stopwatch.wait(timeoutMs);
        return maskReply(port.readAll());
    }
    // Held to the size of the port's own buffer, as a full wait holds it: a
    // device that talks without a line end (a wrong rate, a modem, a GPS)
    // must not fill the memory. What comes beyond it is dropped, and a full
    // buffer without a CR is as much of the reply as will ever be read.
    QByteArray received;
    const auto takeWaiting = [&] {
        const QByteArray bytes = port.readAll();
        received.append(bytes.constData(), qMin(bytes.size(), SerialPort::kReceiveBufferBytes - received.size()));
    };
    const bool crCame = stopwatch.waitUntil(timeoutMs, [&] {
        takeWaiting();
        return received.contains('\r') || received.size() >= SerialPort::kReceiveBufferBytes;
    });
    // A line ends in CR LF. The LF is given the time of two characters to
    // follow its CR, within the exchange's own time: left behind, it would
    // open the next reply. Anything later than that belongs to no reading.
    if (crCame && received.endsWith('\r')) {
        const qint64 leftMs = timeoutMs - stopwatch.elapsedNs() / 1000000;
        const qint32 baud = qMax(port.baudRate(), 1);
        const qint64 twoCharactersMs = (2 * 10 * 1000 + baud - 1) / baud;
        stopwatch.waitUntil(qint32(qBound<qint64>(0, qMin(twoCharactersMs, leftMs), qint64(timeoutMs))), [&] {
            takeWaiting();
            return !received.endsWith('\r');
        });
    }
    takeWaiting();
    return maskReply(received);
}
