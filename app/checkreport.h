#pragma once

// linkprobe-check --json: what a run found, as one JSON document. The fields
// are described in the README; scripts rely on their names.

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

struct BlockReading;
struct LinkResult;
struct PortListing;
struct PortUser;
struct ScanRound;
struct SearchCandidate;
class ScanTally;
class BlockStatistics;

namespace CheckReport {

// program, version, command, started (ISO 8601 with the UTC offset).
QJsonObject header(const QString &command, const QDateTime &started);
// verdict: 0 the БСУ answered, 1-4 the error, -1 the port was not open, -2 the
// port closed during the test (no verdict).
QJsonObject link(const LinkResult &link);
QJsonObject block(const BlockReading &reading);
QJsonObject round(int number, const ScanRound &round);
// Per block: queried, answered and minMs, avgMs, maxMs of its replies (null while it never answered).
QJsonArray tally(const ScanTally &tally, const BlockStatistics &statistics);
// The same for a watch, block by block of the installation, with its state word.
QJsonArray statistics(const BlockStatistics &statistics);
QJsonArray ports(const QList<PortListing> &ports);
QJsonArray candidates(const QList<SearchCandidate> &candidates);
// The other programs that had the port open: program, pid.
QJsonArray portUsers(const QList<PortUser> &users);

// The document on standard output, UTF-8, indented, one LF at its end; or
// as one compact line: a repeated scan's documents, one a round and the
// run's last, read line by line. The run's last document carries its exitStatus.
void print(QJsonObject report, std::optional<int> exitStatus, bool oneLine = false);

} // namespace CheckReport
