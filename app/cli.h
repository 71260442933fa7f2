#pragma once

#include <QString>
#include <QStringList>

class QCommandLineParser;

// What the three programs share on the command line: help on standard output,
// one line per message on standard error, the same wording of errors, and the
// same words for a port that does not open.
namespace Cli {

constexpr int kBadArguments = 64;

// One line on standard error, at once.
void tell(const QString &text);
// The program's help, on standard output.
void printHelp(const char *text);
// "program: why" and where the help is, on standard error; returns kBadArguments.
int badArguments(const QString &program, const QString &why);

// "--simulate" takes an optional scenario: a bare one means "ok", and the
// next word is its scenario ("--simulate noise") unless it is an option or
// one of the program's own command words.
QStringList joinSimulateValue(QStringList args, const QStringList &commandWords = {});

// Parses args (the program's name first) into the parser; false with the
// reason in Russian in *error.
bool parse(QCommandLineParser &parser, const QStringList &args, QString *error);

// Why a device may have refused to open, as far as the system shows it: it is
// not there, no rights on it, or (access denied while we have the rights)
// another program holds it. Nothing when none of these shows.
QStringList unopenedPortHints(const QString &device, bool accessDenied);

}
