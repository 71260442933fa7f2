#include "app/startupreport.h"
#include "link/clock.h"
#include "link/qtserialport.h"
#include "link/settingsstore.h"
#include "sim/scenario.h"
#include "sim/simulatedinstallation.h"
#include "sim/simulatedport.h"
#include "ui/tel.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTextStream>
#include <memory>
#include <optional>

namespace {

constexpr int kUsageError = 64;

int usageError(const QString &message)
{
    QTextStream(stderr) << "linkprobe: " << message << '\n'
                        << "Usage: linkprobe [--simulate[=SCENARIO]] [--startup-report]\n";
    return kUsageError;
}

// The options of the window program; a bare --simulate means a sound installation.
struct CommandLine
{
    QCommandLineParser parser;
    QCommandLineOption simulate{
        QStringLiteral("simulate"),
        QStringLiteral("Work against a simulated installation instead of a serial port. SCENARIO is a "
                       "comma-separated list of ok, no-cable, no-power, line-break, bsu-off, noise, late, "
                       "unplugged, blocks=LIST (default: ok)."),
        QStringLiteral("SCENARIO")};
    QCommandLineOption startupReport{
        QStringLiteral("startup-report"),
        QStringLiteral("Once the window has been drawn, print to standard error the milliseconds since the "
                       "program started and its resident memory, then quit with status 0. Answers \"how fast "
                       "does it start on this PC\" for support and benchmarks.")};

    CommandLine()
    {
        parser.setApplicationDescription(
            QStringLiteral("Checks the serial link to a thermometry installation: COM port, БС, БСУ and blocks."));
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOption(simulate);
        parser.addOption(startupReport);
    }

    // The program takes no other arguments, so a word after a bare
    // --simulate can only be its scenario.
    static QStringList normalized(QStringList args)
    {
        for (int i = 1; i < args.size(); ++i) {
            const bool valueFollows = i + 1 < args.size() && !args.at(i + 1).startsWith(QLatin1Char('-'));
            if (args.at(i) == QLatin1String("--simulate") && !valueFollows)
                args[i] = QStringLiteral("--simulate=ok");
        }
        return args;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QElapsedTimer sinceStart;   // for --startup-report
    sinceStart.start();

    // Help, version and a bad scenario are answered before the window system
    // is needed, so they work without a display too. The window system's own
    // options are not known yet and pass here.
    {
        QStringList raw;
        for (int i = 0; i < argc; ++i)
            raw << QString::fromLocal8Bit(argv[i]);
        CommandLine early;
        early.parser.parse(CommandLine::normalized(raw));
        if (early.parser.isSet(QStringLiteral("help"))) {
            QTextStream(stdout) << early.parser.helpText().replace(QStringLiteral("<executable_name>"),
                                                                   QStringLiteral("linkprobe"));
            return 0;
        }
        if (early.parser.isSet(QStringLiteral("version"))) {
            QTextStream(stdout) << "linkprobe " << LINKPROBE_VERSION << '\n';
            return 0;
        }
        if (early.parser.isSet(early.simulate)) {
            QString error;
            if (!Scenario::parse(early.parser.value(early.simulate), &error))
                return usageError(QStringLiteral("bad scenario \"%1\": %2").arg(early.parser.value(early.simulate), error));
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("linkprobe"));
    QApplication::setApplicationVersion(QStringLiteral(LINKPROBE_VERSION));

    CommandLine cli;
    if (!cli.parser.parse(CommandLine::normalized(QApplication::arguments())))
        return usageError(cli.parser.errorText());
    if (!cli.parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument: %1").arg(cli.parser.positionalArguments().first()));

    SettingsStore store;
    SteadyClock clock;
    std::unique_ptr<SimulatedInstallation> installation;
    std::unique_ptr<SerialPort> port;
    if (cli.parser.isSet(cli.simulate)) {
        installation = std::make_unique<SimulatedInstallation>(*Scenario::parse(cli.parser.value(cli.simulate)));
        port = std::make_unique<SimulatedPort>(*installation, clock);
    } else {
        port = std::make_unique<QtSerialPort>(store);
    }

    // The window lives until the event loop has returned: a check still
    // waiting when it was closed finishes against it.
    tel window(*port, store, clock);
    std::optional<StartupReport> startupReport;
    if (cli.parser.isSet(cli.startupReport))
        startupReport.emplace(QStringLiteral("linkprobe"), window, sinceStart);
    window.show();
    return app.exec();
}
