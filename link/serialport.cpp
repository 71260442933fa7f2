#include "link/serialport.h"

#include <QRegularExpression>
#include <limits>

qint32 baudFromSettings(const QString &settings)
{
    static const QRegularExpression form(QStringLiteral("^\\s*(\\d{1,10})\\s*,\\s*[nN]\\s*,\\s*8\\s*,\\s*1\\s*$"));
    const QRegularExpressionMatch match = form.match(settings);
    if (!match.hasMatch())
        return 0;
    const qlonglong baud = match.captured(1).toLongLong();
    return (baud > 0 && baud <= std::numeric_limits<qint32>::max()) ? qint32(baud) : 0;
}
