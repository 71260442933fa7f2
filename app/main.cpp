#include "app/cli.h"
#include "app/startupreport.h"
#include "link/clock.h"
#include "link/qtserialport.h"
#include "link/settingsstore.h"
#include "sim/scenario.h"
#include "sim/simulatedinstallation.h"
#include "sim/simulatedport.h"
#include "ui/mainwindow.h"
#include "ui/twips.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <memory>
#include <optional>

namespace {

const char kUsage[] =
    "Использование: linkprobe [--simulate[=СЦЕНАРИЙ]] [--startup-report]\n"
    "\n"
    "Проверка связи с установкой термометрии из окна: COM-порт, БС, БСУ и блоки.\n"
    "\n"
    "Параметры:\n"
    "  --simulate[=СЦЕНАРИЙ] вместо порта - имитация установки (можно и --simulate СЦЕНАРИЙ); сценарий -\n"
    "                        слова через запятую: ok, no-cable, no-power, line-break, bsu-off,\n"
    "                        blocks=СПИСОК (например blocks=1-5,9), flaky=СПИСОК (блоки отвечают через раз),\n"
    "                        noise, late, unplugged; по умолчанию ok\n"
    "  --startup-report      когда окно показано, вывести в поток ошибок время от запуска и порт\n"
    "                        (открыт ли он), через секунду - занятую память, затем выйти с кодом 0\n"
    "                        (для поддержки и замеров)\n"
    "  -v, --version         версия программы\n"
    "  -h, --help            эта справка\n"
    "Параметры Qt (например -platform, -style) тоже действуют.\n"
    "\n"
    "Код завершения: 0 - окно закрыто; 64 - неверные аргументы.\n";

const QString kProgram = QStringLiteral("linkprobe");

struct CommandLine
{
    QCommandLineParser parser;
    QCommandLineOption simulate{QStringLiteral("simulate"), QString(), QStringLiteral("scenario")};
    QCommandLineOption startupReport{QStringLiteral("startup-report")};
    QCommandLineOption version{QStringList{QStringLiteral("v"), QStringLiteral("version")}};
    QCommandLineOption help{QStringList{QStringLiteral("h"), QStringLiteral("help")}};
    std::optional<Scenario> scenario;   // --simulate

    CommandLine() { parser.addOptions({simulate, startupReport, version, help}); }

    // Help, version or a refusal: the exit status; nothing when the window is
    // to open. Help, version and a bad scenario are answered before the window
    // system is needed (early), so they work without a display too; the window
    // system's own options are not known then and pass.
    std::optional<int> answer(const QStringList &args, bool early)
    {
        QString error;
        const bool parsed = Cli::parse(parser, Cli::joinSimulateValue(args), &error);
        if (parser.isSet(help))
            return Cli::printHelp(kProgram, kUsage);
        if (parser.isSet(version))
            return Cli::printHelp(kProgram, "linkprobe " LINKPROBE_VERSION "\n");
        if (!early && !parsed)
            return Cli::badArguments(kProgram, error);
        if (!early && !parser.positionalArguments().isEmpty())
            return Cli::badArguments(kProgram, QStringLiteral("лишний аргумент \"%1\"")
                                                   .arg(parser.positionalArguments().first()));
        if (parser.isSet(simulate))
            scenario = Scenario::parse(parser.value(simulate), &error);
        if (parser.isSet(simulate) && !scenario)
            return Cli::badArguments(kProgram, QStringLiteral("неверный сценарий: ") + error);
        return std::nullopt;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QElapsedTimer sinceStart;   // for --startup-report
    sinceStart.start();
    Cli::beginProgram();

    QStringList raw;
    for (int i = 0; i < argc; ++i)
        raw << QString::fromLocal8Bit(argv[i]);
    if (const std::optional<int> answered = CommandLine().answer(raw, true))
        return *answered;

    QApplication app(argc, argv);
    QApplication::setApplicationName(kProgram);
    QApplication::setApplicationVersion(QStringLiteral(LINKPROBE_VERSION));

    CommandLine cli;
    if (const std::optional<int> answered = cli.answer(QApplication::arguments(), false))
        return *answered;

    // A simulated session keeps its choices for itself, in memory: the user's
    // real port and rate are neither read for it nor overwritten by it.
    const bool simulated = cli.scenario.has_value();
    SettingsStore store = simulated ? SettingsStore(QString()) : SettingsStore();
    SteadyClock clock;
    std::optional<SimulatedInstallation> installation;
    std::unique_ptr<SerialPort> port;
    if (simulated)
        port = std::make_unique<SimulatedPort>(installation.emplace(*cli.scenario), clock);
    else
        port = std::make_unique<QtSerialPort>();

#ifdef Q_OS_WIN
    // Arial's metric twin where Arial itself is missing: under Wine, which
    // shows Qt the host's fonts, not its own.
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
#endif
    // One face for the whole program, the block list's popup included: a
    // second face would be looked up, loaded and cached at every start.
    QApplication::setFont(Twips::formFont());
    // The window lives until the event loop has returned: a check still
    // waiting when it was closed finishes against it.
    MainWindow window(*port, store, clock);
    if (simulated)
        window.showSimulation(cli.scenario->toString());
    std::optional<StartupReport> startupReport;
    if (cli.parser.isSet(cli.startupReport))
        startupReport.emplace(kProgram, window, sinceStart, port.get());
    window.show();
    return app.exec();
}
