#include "app/checkreport.h"

#include "app/cli.h"
#include "checks/blockscan.h"
#include "checks/blockstatistics.h"
#include "checks/installationsearch.h"
#include "link/portlist.h"
#include "link/systemports.h"

#include <QJsonDocument>

namespace {

// COM numbers, rates: a list of whole numbers as a JSON array.
template <typename Number>
QJsonArray numbers(const QList<Number> &values)
{
    QJsonArray array;
    for (const Number value : values)
        array << value;
    return array;
}

// A block's counts and the times of its replies, which are null while it never answered.
QJsonObject blockTotals(int number, int queried, int answered, const BlockTally &times)
{
    const auto ms = [&times](qint64 value) { return times.answered > 0 ? QJsonValue(value) : QJsonValue(); };
    return {{QStringLiteral("number"), number},
            {QStringLiteral("queried"), queried},
            {QStringLiteral("answered"), answered},
            {QStringLiteral("minMs"), ms(times.minMs)},
            {QStringLiteral("avgMs"), ms(times.avgMs())},
            {QStringLiteral("maxMs"), ms(times.maxMs)}};
}

} // namespace

namespace CheckReport {

QJsonObject header(const QString &command, const QDateTime &started)
{
    return {
        {QStringLiteral("program"), QStringLiteral("linkprobe-check")},
        {QStringLiteral("version"), QStringLiteral(LINKPROBE_VERSION)},
        {QStringLiteral("command"), command},
        {QStringLiteral("started"), started.toOffsetFromUtc(started.offsetFromUtc()).toString(Qt::ISODate)},
    };
}

QJsonObject link(const LinkResult &link)
{
    return {{QStringLiteral("verdict"), link.verdict}, {QStringLiteral("reply"), link.reply}};
}

QJsonObject block(const BlockReading &reading)
{
    return {
        {QStringLiteral("number"), reading.number},
        {QStringLiteral("query"), reading.query},
        {QStringLiteral("reply"), reading.reply},
        {QStringLiteral("answered"), reading.answered},
        {QStringLiteral("ms"), reading.ms},
    };
}

QJsonObject round(int number, const ScanRound &round)
{
    QJsonArray blocks;
    for (const BlockReading &reading : round.blocks)
        blocks << block(reading);
    return {
        {QStringLiteral("round"), number},
        {QStringLiteral("link"), link(round.link)},
        {QStringLiteral("blocks"), blocks},
        {QStringLiteral("stopped"), round.stopped},
        {QStringLiteral("portLost"), round.portLost},
    };
}

QJsonArray tally(const ScanTally &tally, const BlockStatistics &statistics)
{
    QJsonArray counts;
    for (auto it = tally.counts().cbegin(); it != tally.counts().cend(); ++it)
        counts << blockTotals(it.key(), it.value().queried, it.value().answered, statistics.tally(it.key()));
    return counts;
}

QJsonArray statistics(const BlockStatistics &statistics)
{
    QJsonArray blocks;
    for (const int n : statistics.installed()) {
        const BlockTally &block = statistics.tally(n);
        QJsonObject entry = blockTotals(n, block.asked, block.answered, block);
        entry.insert(QStringLiteral("state"), blockStateWord(statistics.state(n)));
        blocks << entry;
    }
    return blocks;
}

QJsonArray ports(const QList<PortListing> &ports)
{
    const auto stateName = [](PortListing::State state) {
        switch (state) {
        case PortListing::State::Free: return QStringLiteral("free");
        case PortListing::State::InUse: return QStringLiteral("in-use");
        case PortListing::State::NoRights: return QStringLiteral("no-rights");
        case PortListing::State::Absent: return QStringLiteral("absent");
        }
        return QString();
    };
    QJsonArray list;
    for (const PortListing &port : ports) {
        list << QJsonObject{
            {QStringLiteral("comPorts"), numbers(port.comPorts)},
            {QStringLiteral("device"), port.device},
            {QStringLiteral("stablePath"), port.stablePath},
            {QStringLiteral("description"), port.description},
            {QStringLiteral("manufacturer"), port.manufacturer},
            {QStringLiteral("serialNumber"), port.serialNumber},
            {QStringLiteral("detected"), port.detected},
            {QStringLiteral("state"), stateName(port.state)},
            {QStringLiteral("stateText"), portStateText(port)},
            {QStringLiteral("holder"), port.holder},
            {QStringLiteral("group"), port.group},
            {QStringLiteral("console"), port.console},
        };
    }
    return list;
}

QJsonArray candidates(const QList<SearchCandidate> &candidates)
{
    using Outcome = SearchCandidate::Outcome;
    const auto outcomeName = [](Outcome outcome) {
        switch (outcome) {
        case Outcome::NotTried: return QStringLiteral("not-tried");
        case Outcome::Found: return QStringLiteral("found");
        case Outcome::Echo: return QStringLiteral("echo");
        case Outcome::Silent: return QStringLiteral("silent");
        case Outcome::NoCable: return QStringLiteral("no-cable");
        case Outcome::NoPower: return QStringLiteral("no-power");
        case Outcome::NotOpened: return QStringLiteral("not-opened");
        case Outcome::Absent: return QStringLiteral("absent");
        case Outcome::SkippedInUse: return QStringLiteral("skipped-in-use");
        case Outcome::SkippedConsole: return QStringLiteral("skipped-console");
        case Outcome::PortLost: return QStringLiteral("port-lost");
        }
        return QString();
    };
    QJsonArray list;
    for (const SearchCandidate &candidate : candidates) {
        list << QJsonObject{
            {QStringLiteral("device"), candidate.device},
            {QStringLiteral("outcome"), outcomeName(candidate.outcome)},
            {QStringLiteral("baud"), candidate.baudRate},
            {QStringLiteral("ratesTried"), numbers(candidate.ratesTried)},
            {QStringLiteral("reply"), candidate.reply},
            {QStringLiteral("reason"), candidate.reason},
            {QStringLiteral("line"), candidateLine(candidate)},
        };
    }
    return list;
}

QJsonArray portUsers(const QList<PortUser> &users)
{
    QJsonArray list;
    for (const PortUser &user : users)
        list << QJsonObject{{QStringLiteral("program"), user.program}, {QStringLiteral("pid"), user.pid}};
    return list;
}

void print(QJsonObject report, std::optional<int> exitStatus, bool oneLine)
{
    if (exitStatus)
        report.insert(QStringLiteral("exitStatus"), *exitStatus);
    const auto format = oneLine ? QJsonDocument::Compact : QJsonDocument::Indented;
    Cli::printLine(QString::fromUtf8(QJsonDocument(report).toJson(format)).trimmed());
}

} // namespace CheckReport
