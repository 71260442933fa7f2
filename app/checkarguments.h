#pragma once

// linkprobe-check's command line: the commands, each with its word, its
// arguments and the options it allows, and what a run asks for.

#include "sim/scenario.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

struct CheckOptions;

// The options a command may take beyond those every command takes.
enum CheckOption {
    kSaveOption = 1,
    kFastOption = 2,
    kFullWaitsOption = 4,
    kRepeatOption = 8,
    kReportOption = 16,   // --report, --object, --technician
    kSimulateOption = 32,
};

struct CheckCommand
{
    const char *word;
    bool takesBlock;        // "block N"
    bool takesManyPorts;    // every --port names one more port, not the last one the port
    int options;            // CheckOption, or'ed
    int (*run)(const CheckOptions &);
    const char *help;       // its lines in the help, aligned
};

// A port as --port names it.
struct NamedPort
{
    std::optional<qint16> number;   // COM number
    QString device;                 // set instead of the number when --port named a device
};

struct CheckOptions
{
    const CheckCommand *command = nullptr;
    int block = 0;
    NamedPort port;
    std::optional<qint32> baud;
    QList<NamedPort> ports;   // takesManyPorts: each one named
    bool save = false;
    bool fast = false;
    bool fullWaits = false;
    std::optional<int> repeat;   // rounds, 0 = until Ctrl+C
    bool json = false;
    bool simulate = false;
    Scenario scenario;
    bool instant = false;
    bool help = false;
    QString report;       // the report's file
    std::optional<QString> object;
    std::optional<QString> technician;
};

// Fills the options from the arguments (the program's name first); nothing,
// and the reason in *error, when they do not make a run.
std::optional<CheckOptions> parseCheckArguments(const QStringList &args, const QList<CheckCommand> &commands,
                                                QString *error);
// The help: the usage, each command's lines, the options and exit statuses.
QByteArray checkUsage(const QList<CheckCommand> &commands);
