#include "link/exchange.h"

#include "link/cp1251.h"
#include "link/serialport.h"
#include "link/wait.h"

QString maskReply(const QByteArray &bytes)
{
    QString reply;
    reply.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 32 && b != 13 && b != 10)
            reply += QLatin1Char('?');
        else
            reply += cp1251ToUnicode(b);
    }
    return reply;
}

QString cutAtFirstCr(const QString &reply)
{
    const qsizetype cr = reply.indexOf(QLatin1Char('\r'));
    return cr < 0 ? reply : reply.left(cr);
}

QString sendCommand(SerialPort &port, Stopwatch &stopwatch, const QString &command, qint32 timeoutMs)
{
    // Whatever is waiting (a late answer, noise) is never taken for the reply.
    port.readAll();
    port.write((command + QStringLiteral("\r\n")).toLatin1());
    // The exchange always takes the full time, even when the reply is complete sooner.
    stopwatch.wait(timeoutMs);
    return maskReply(port.readAll());
}
