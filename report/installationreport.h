#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

class BlockStatistics;

// The report handed over on site: what the block map holds, as PDF (A4, with
// the map as a picture) or CSV for a spreadsheet, chosen by the file's ending.
namespace InstallationReport {

struct Header
{
    QDateTime made;
    QString object;       // the object's name
    QString technician;
    QString port;         // "COM1"
    QString device;       // "/dev/ttyUSB0"
    qint32 baud = 0;
    QString version;      // of the program
};

enum class Format { Pdf, Csv, Unknown };
Format formatFor(const QString &path);

// UTF-8 with a byte order mark, ";" between fields, CR LF after each row: the
// column names, then one row per block of the installation.
QByteArray csv(const BlockStatistics &statistics);
QByteArray pdf(const Header &header, const BlockStatistics &statistics);

// Writes the report whole or not at all: a file that was there keeps its
// content when writing fails. False, with the reason in Russian, when not written.
bool save(const QString &path, const Header &header, const BlockStatistics &statistics, QString *error);

} // namespace InstallationReport
