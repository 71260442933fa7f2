#include "report/installationreport.h"

#include "checks/blockranges.h"
#include "checks/blockstatistics.h"
#include "link/wholefile.h"
#include "report/blockmappicture.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPdfWriter>
#include <QTextDocument>
#include <QUrl>

namespace InstallationReport {

namespace {

QString timeOrBlank(const BlockTally &tally, qint64 ms)
{
    return tally.answered > 0 ? QString::number(ms) : QString();
}

// One block's row: number, state, answered, asked, min/avg/max ms, last reply.
QStringList rowOf(const BlockStatistics &statistics, int n)
{
    const BlockTally &tally = statistics.tally(n);
    return {QString::number(n),
            blockStateWord(statistics.state(n)),
            QString::number(tally.answered),
            QString::number(tally.asked),
            timeOrBlank(tally, tally.minMs),
            timeOrBlank(tally, tally.avgMs()),
            timeOrBlank(tally, tally.maxMs),
            tally.lastReply.isValid() ? tally.lastReply.toString(kDateTimeFormat) : QString()};
}

const QStringList kColumns = {QStringLiteral("Блок"), QStringLiteral("Состояние"), QStringLiteral("Ответил"),
                              QStringLiteral("Опрошен"), QStringLiteral("Мин. мс"), QStringLiteral("Сред. мс"),
                              QStringLiteral("Макс. мс"), QStringLiteral("Последний ответ")};

QImage mapImage(const BlockStatistics &statistics)
{
    // Twice the size it is shown at, so that print stays sharp.
    QImage image(1600, 440, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPalette paper;
    paper.setColor(QPalette::WindowText, Qt::black);
    QPainter painter(&image);
    QFont font(QStringLiteral("Arial"));
    painter.setFont(font);
    BlockMapPicture::paintMap(painter, QRectF(image.rect()), statistics, paper);
    return image;
}

QString html(const Header &header, const BlockStatistics &statistics)
{
    const auto field = [](const QString &name, const QString &value) {
        return QStringLiteral("<tr><td>%1:</td><td><b>%2</b></td></tr>").arg(name, value.toHtmlEscaped());
    };
    QString text = QStringLiteral("<h2>Отчёт о проверке связи с блоками термометрии</h2><table cellpadding=\"2\">");
    text += field(QStringLiteral("Дата и время"), header.made.toString(kDateTimeFormat));
    text += field(QStringLiteral("Объект"), header.object);
    text += field(QStringLiteral("Проверил"), header.technician);
    text += field(QStringLiteral("Порт"), QStringLiteral("%1, устройство %2, скорость %3 бод")
                                              .arg(header.port, header.device, QString::number(header.baud)));
    text += field(QStringLiteral("Программа"), QStringLiteral("linkprobe ") + header.version);
    text += field(QStringLiteral("Последняя проверка связи"),
                  statistics.linkTests() > 0 ? linkVerdictWords(statistics.lastLinkVerdict())
                                             : QStringLiteral("не проводилась"));
    text += field(QStringLiteral("Кругов опроса"), QString::number(statistics.rounds()));
    text += field(QStringLiteral("Пропадания DSR / CTS"),
                  QStringLiteral("%1 / %2").arg(statistics.dsrDrops()).arg(statistics.ctsDrops()));
    text += field(QStringLiteral("Блоки установки"), QStringLiteral("%1 (%2)")
                                                         .arg(blockRanges(statistics.installed(), QStringLiteral(", ")))
                                                         .arg(statistics.installed().size()));
    text += QStringLiteral("</table><p><img src=\"map:blocks\" width=\"600\" height=\"165\"></p>");
    text += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" width=\"100%\"><tr>");
    for (const QString &column : kColumns)
        text += QStringLiteral("<th>%1</th>").arg(column);
    text += QStringLiteral("</tr>");
    for (const int n : statistics.installed()) {
        text += QStringLiteral("<tr>");
        QStringList row = rowOf(statistics, n);
        row[1].replace(QLatin1Char(' '), QChar(0x00A0));   // the state in one line
        for (qsizetype i = 0; i < row.size(); ++i)
            text += (i == 1 ? QStringLiteral("<td>%1</td>") : QStringLiteral("<td align=\"right\">%1</td>")).arg(row.at(i));
        text += QStringLiteral("</tr>");
    }
    return text + QStringLiteral("</table>");
}

} // namespace

Format formatFor(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("pdf"))
        return Format::Pdf;
    if (suffix == QLatin1String("csv"))
        return Format::Csv;
    return Format::Unknown;
}

QByteArray csv(const BlockStatistics &statistics)
{
    const QString crlf = QStringLiteral("\r\n");
    QString text = kColumns.join(QLatin1Char(';')) + crlf;
    for (const int n : statistics.installed())
        text += rowOf(statistics, n).join(QLatin1Char(';')) + crlf;
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

QByteArray pdf(const Header &header, const BlockStatistics &statistics)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setPageSize(QPageSize(QPageSize::A4));
        // QTextDocument::print() keeps its own margins of 2 cm.
        writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
        writer.setTitle(QStringLiteral("Отчёт о проверке связи с блоками термометрии"));
        writer.setCreator(QStringLiteral("linkprobe ") + header.version);
        QTextDocument document;
        QFont font(QStringLiteral("Arial"));
        font.setPointSizeF(9);
        document.setDefaultFont(font);
        document.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("map:blocks")), mapImage(statistics));
        document.setHtml(html(header, statistics));
        document.print(&writer);
    }
    return buffer.data();
}

bool save(const QString &path, const Header &header, const BlockStatistics &statistics, QString *error)
{
    const Format format = formatFor(path);
    if (format == Format::Unknown) {
        *error = QStringLiteral("у файла отчёта должно быть окончание .pdf или .csv");
        return false;
    }
    const QByteArray bytes = format == Format::Pdf ? pdf(header, statistics) : csv(statistics);
    *error = writeWholeFile(path, bytes);
    return error->isEmpty();
}

} // namespace InstallationReport
