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

QString SendCommand(SerialPort &MSComm1, Stopwatch &wait, const QString &cmd, const qint32 &tmo)
{
    // Whatever is waiting (a late answer, noise) is never taken for the reply.
    MSComm1.Input();
    MSComm1.Output((cmd + QStringLiteral("\r\n")).toLatin1());
    // The exchange always takes the full time, even when the reply is complete sooner.
    wait.Wait(tmo);

    if (MSComm1.InputMode() != 1) {
        QString text;
        for (char c : MSComm1.Input())
            text += cp1251ToUnicode(static_cast<unsigned char>(c));
        return text;
    }
    if (MSComm1.InBufferCount() == 0)
        return QString();
    return maskReply(MSComm1.Input());
}
