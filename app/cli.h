#pragma once

#include <QString>
#include <QStringList>

class QCommandLineParser;

// What the three programs share on the command line: help on standard output,
// one line per message on standard error, the same wording of errors.
namespace Cli {

constexpr int kBadArguments = 64;
// Standard output could not be written (EX_IOERR).
constexpr int kOutputFailed = 74;

// Called first thing in main. Opens /dev/null in place of any of descriptors
// 0, 1 and 2 that is closed: the next file opened (a serial port) would
// otherwise become standard output or standard error and receive what the
// program prints. A standard output found closed counts as one that fails.
// On Windows both streams become binary: LF stays LF. A file size limit
// (ulimit -f) makes a write that passes it fail with EFBIG, told like any
// other failed write, instead of killing the program (SIGXFSZ).
void beginProgram();

// One line on standard error, at once.
void tell(const QString &text);
// One line on standard output, at once. After a line that could not be
// written (a full disk, a closed pipe, standard output closed) no more are
// tried, and exitStatus() tells why.
void printLine(const QString &text);
// The program's help, on standard output; the exit status: 0, or
// kOutputFailed (told on standard error) when it could not be written.
int printHelp(const QString &program, const char *text);
// kOutputFailed, told on standard error, when standard output has failed;
// else the status as it is.
int exitStatus(const QString &program, int status);
// "program: why" and where the help is, on standard error; returns kBadArguments.
int badArguments(const QString &program, const QString &why);

// "--simulate" takes an optional scenario: a bare one means "ok", and the
// next word is its scenario ("--simulate noise") unless it is an option or
// one of the program's own command words.
QStringList joinSimulateValue(QStringList args, const QStringList &commandWords = {});

// Parses args (the program's name first) into the parser; false with the
// reason in Russian in *error.
bool parse(QCommandLineParser &parser, const QStringList &args, QString *error);

}
