#include "link/clock.h"
#include "link/qtserialport.h"
#include "link/settingsstore.h"
#include "sim/scenario.h"
#include "sim/simulatedinstallation.h"
#include "sim/simulatedport.h"
#include "ui/tel.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>
#include <memory>
#include <optional>

namespace {

constexpr int kUsageError = 64;

int usageError(const QString &message)
{
    QTextStream(stderr) << "linkprobe: " << message << '\n'
                        << "Usage: linkprobe [--simulate[=SCENARIO]]\n";
    return kUsageError;
}

}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("linkprobe"));
    QApplication::setApplicationVersion(QStringLiteral(LINKPROBE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Checks the serial link to a thermometry installation: COM port, БС, БСУ and blocks."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption simulate(
        QStringLiteral("simulate"),
        QStringLiteral("Work against a simulated installation instead of a serial port. SCENARIO is a "
                       "comma-separated list such as ok, no-cable, no-power, line-break, bsu-off, noise, "
                       "late, unplugged, blocks=1-5,9 (default: ok)."),
        QStringLiteral("SCENARIO"));
    parser.addOption(simulate);

    // The scenario is optional: a bare --simulate means a sound installation.
    QStringList args = QApplication::arguments();
    for (QString &arg : args) {
        if (arg == QLatin1String("--simulate"))
            arg = QStringLiteral("--simulate=ok");
    }
    if (!parser.parse(args))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first()));

    SettingsStore store;
    SteadyClock clock;
    std::unique_ptr<SimulatedInstallation> installation;
    std::unique_ptr<SerialPort> port;
    if (parser.isSet(simulate)) {
        QString error;
        const std::optional<Scenario> scenario = Scenario::parse(parser.value(simulate), &error);
        if (!scenario)
            return usageError(QStringLiteral("bad scenario \"%1\": %2").arg(parser.value(simulate), error));
        installation = std::make_unique<SimulatedInstallation>(*scenario);
        port = std::make_unique<SimulatedPort>(*installation, clock);
    } else {
        port = std::make_unique<QtSerialPort>(store);
    }

    // The window lives until the event loop has returned: a check still
    // waiting when it was closed finishes against it.
    tel window(*port, store, clock);
    window.show();
    return app.exec();
}
