// linkprobe-check: the window's own checks without a window. The message log's
// lines go to standard output, everything else to standard error, and the
// verdict becomes the exit status. Each command is one entry of kCommands and
// one function; the checks on the port share a PortRun.

#include "app/checkarguments.h"
#include "app/checkreport.h"
#include "app/cli.h"
#include "app/stopsignals.h"
#include "checks/blockranges.h"
#include "checks/blockscan.h"
#include "checks/blockstatistics.h"
#include "checks/checksession.h"
#include "checks/installationsearch.h"
#include "checks/operatorpanel.h"
#include "checks/watch.h"
#include "link/clock.h"
#include "link/portlist.h"
#include "link/qtserialport.h"
#include "link/settings.h"
#include "link/settingsstore.h"
#include "link/systemports.h"
#include "report/installationreport.h"
#include "sim/simulatedinstallation.h"
#include "sim/simulatedport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <csignal>
#include <memory>

namespace {

// Exit statuses; 1 to 4 are the number of the link test's error.
constexpr int kEverythingAnswered = 0;
constexpr int kBlockSilent = 5;
constexpr int kPortNotOpen = 6;
constexpr int kInstallationNotFound = 7;
// A save that was asked for (find --save, --report) failed, as sysexits'
// EX_CANTCREAT; the verdict is on standard output all the same.
constexpr int kNotSaved = 73;

using Cli::tell;

const QString kProgram = QStringLiteral("linkprobe-check");

// The operator panel of the headless check: each line of the message log at
// once on standard output, so whoever watches (or pipes) it sees each step as
// it happens. There are no buttons; a run ends when its procedure returns.
class ConsolePanel : public OperatorPanel
{
public:
    explicit ConsolePanel(bool silent) : m_silent(silent) {}
    void addMessage(const QString &text) override
    {
        if (!m_silent)
            Cli::printLine(text);
    }
    void setButtonEnabled(Button, bool) override {}
    // A check cut short goes on to its end without its port: what it would
    // still say is no verdict, and is not written.
    void silence() { m_silent = true; }

private:
    bool m_silent = false;
};

int linkStatus(int verdict)
{
    // A port lost during the test is one that did not stay open: no verdict.
    return verdict == LineTests::PortNotOpen || verdict == LineTests::PortLost ? kPortNotOpen : verdict;
}

// The closing line on standard error and the status it names, which is the
// one the program ends with: a standard output that failed makes it 74.
int closingStatus(const QString &what, qint64 ms, int status)
{
    status = Cli::exitStatus(kProgram, status);
    tell(QStringLiteral("%1 %2 мс, код завершения %3").arg(what).arg(ms).arg(status));
    return status;
}

// The user's own settings. Whatever stands in the way of reading or saving
// the file is told on standard error; the verdict stays the verdict.
SettingsStore userSettings()
{
    SettingsStore store;
    store.setProblemHandler(tell);
    return store;
}

// What link, block, scan and watch share: the port (real or simulated) opened
// through the session, the panel, the signals, the statistics and the report.
class PortRun
{
public:
    explicit PortRun(const CheckOptions &options);
    // The closing lines, the report file and the JSON document; the exit status.
    int finish(int status);

    const CheckOptions &o;
    SettingsStore store = userSettings();
    Settings settings = Settings::load(store);   // the user's, shadowed by this run's options
    std::unique_ptr<Clock> clock = o.instant ? std::unique_ptr<Clock>(std::make_unique<ManualClock>())
                                             : std::make_unique<SteadyClock>();
    SimulatedInstallation installation {o.scenario};
    std::unique_ptr<SerialPort> port;
    const QDateTime started = QDateTime::currentDateTime();
    ConsolePanel panel {o.json};
    CheckSession session {*port, store, *clock, panel};
    BlockScan scan {session.tests(), *port, panel};
    // The installation's blocks, as saved in the window; what each reply showed.
    BlockStatistics statistics;
    InstallationWatch watch {session, panel, statistics};
    bool scanning = false;
    bool scanStopAsked = false;
    bool stoppedAtOnce = false;
    StopSignals stop {[this](int signal) { onSignal(signal); }};
    bool opened = false;
    QJsonObject report;
    QElapsedTimer took;
    bool lost = false;   // the port closed during the check, which has told it: no verdict
    bool oneLineReport = false;

private:
    void onSignal(int signal);
    void tellPort();
    bool saveReport();
    // The port as the technician names it: the COM number, or the device he gave.
    QString portWord() const
    {
        return o.port.device.isEmpty() ? QStringLiteral("COM%1").arg(session.state().comPort) : o.port.device;
    }
    QString portName() const
    {
        return o.port.device.isEmpty() ? QStringLiteral("%1 (%2)").arg(portWord(), port->device()) : o.port.device;
    }
};

PortRun::PortRun(const CheckOptions &options)
    : o(options),
      port(o.simulate ? std::unique_ptr<SerialPort>(std::make_unique<SimulatedPort>(installation, *clock))
                      : std::make_unique<QtSerialPort>())
{
    settings.comPort = o.port.number.value_or(settings.comPort);
    settings.baudRate = o.baud.value_or(settings.baudRate);
    QString problem;
    statistics.setInstalled(installedBlocks(settings.installedBlocks, &problem));
    if (!problem.isEmpty())
        tell(problem);
    scan.setBlocks(statistics.installed());
    scan.onLinkTest = [this](const LinkResult &link) {
        statistics.addRound();
        statistics.addLinkTest(link.verdict);
    };
    scan.onBlock = [this](const BlockReading &reading) { statistics.add(reading, QDateTime::currentDateTime()); };
    opened = session.openPort(settings, o.port.device);
    tellPort();
    report = CheckReport::header(QLatin1String(o.command->word), started);
    report.insert(QStringLiteral("port"), portWord());
    report.insert(QStringLiteral("device"), port->device());
    report.insert(QStringLiteral("baud"), session.state().baudRate);
    report.insert(QStringLiteral("simulated"), o.simulate ? QJsonValue(o.scenario.toString()) : QJsonValue());
    report.insert(QStringLiteral("portOpened"), opened);
    // Another program with the port open may take replies away: told beside
    // the other hints, and the check goes on.
    const QList<PortUser> sharers = port->isSystemDevice() && opened
                                        ? portUsers(port->device(), QCoreApplication::applicationPid())
                                        : QList<PortUser>();
    for (const QString &line : sharedPortWarnings(portName(), sharers))
        tell(line);
    report.insert(QStringLiteral("sharedWith"), CheckReport::portUsers(sharers));
    took.start();
}

// Stopped, the check runs out at once (every wait abandoned) without its port.
// Ctrl+C in a scan stops it after the block under way, with its summary
// and verdict; any signal after it ends the program at once.
void PortRun::onSignal(int signal)
{
    if (signal == SIGINT && scanning && !scanStopAsked && !stoppedAtOnce) {
        scanStopAsked = true;
        scan.requestStop();
        watch.requestStop();
        return;
    }
    stoppedAtOnce = true;
    panel.silence();
    session.stopwatch().abandon();
    port->close();
}

// Which port at which rate, and why it did not open.
void PortRun::tellPort()
{
    const qint32 baud = session.state().baudRate;
    if (o.simulate)
        tell(QStringLiteral("Имитация установки \"%1\", %2, %3 бод%4")
                 .arg(o.scenario.toString(), portWord(), QString::number(baud),
                      o.instant ? QStringLiteral(", мгновенное время") : QString()));
    else
        tell(QStringLiteral("Порт %1, %2 бод").arg(portName()).arg(baud));
    if (opened)
        return;
    const QString why = port->openError();
    tell((o.simulate ? QStringLiteral("Имитируемый порт") : QStringLiteral("Порт ") + portName())
         + QStringLiteral(" не открылся") + (why.isEmpty() ? QString() : QStringLiteral(": ") + why));
}

bool PortRun::saveReport()
{
    InstallationReport::Header header;
    header.made = QDateTime::currentDateTime();
    header.object = o.object.value_or(settings.reportObject);
    header.technician = o.technician.value_or(settings.reportTechnician);
    header.port = portWord();
    header.device = port->device();
    header.baud = session.state().baudRate;
    header.version = QStringLiteral(LINKPROBE_VERSION);
    QString why;
    if (InstallationReport::save(o.report, header, statistics, &why))
        return true;
    tell(QStringLiteral("Отчёт не записан в файл %1: %2").arg(o.report, why));
    return false;
}

int PortRun::finish(int status)
{
    if (stoppedAtOnce) {
        tell(QStringLiteral("Проверка прервана сигналом %1, порт закрыт").arg(stop.name()));
        return stop.exitStatus();
    }
    if (port->modemLinesUnreadable())
        tell(QStringLiteral("Порт %1 не сообщает состояние линий DSR/CTS (так у псевдотерминалов и некоторых "
                            "адаптеров): они читаются как выключенные, и ошибки 1 и 2 могут говорить не о кабеле "
                            "и питании БС").arg(portName()));
    if (!o.report.isEmpty() && !saveReport())
        status = kNotSaved;
    if (o.json) {
        report.insert(QStringLiteral("void"), lost);
        CheckReport::print(report, status, oneLineReport);
    }
    return closingStatus(QStringLiteral("Проверка заняла"), took.elapsed(), status);
}

// The buttons' reply end: their full fixed waits, unless --fast.
ReplyEnd buttonReplyEnd(const CheckOptions &o)
{
    return o.fast ? ReplyEnd::AtFirstCr : ReplyEnd::FullWait;
}

int linkCommand(const CheckOptions &o)
{
    PortRun run(o);
    const LinkResult link = run.session.tests().linkTest(buttonReplyEnd(o));
    run.lost = link.verdict == LineTests::PortLost;
    run.report.insert(QStringLiteral("link"), CheckReport::link(link));
    return run.finish(linkStatus(link.verdict));
}

int blockCommand(const CheckOptions &o)
{
    PortRun run(o);
    const BlockCheckResult checked = run.session.tests().blockCheck(o.block, buttonReplyEnd(o));
    run.lost = checked.link.verdict == LineTests::PortLost || checked.block.portLost;
    int status = checked.block.answered ? kEverythingAnswered : kBlockSilent;
    if (!run.opened || run.lost)
        status = kPortNotOpen;
    else if (checked.link.verdict != LineTests::LinkGood)
        status = linkStatus(checked.link.verdict);
    run.report.insert(QStringLiteral("link"), CheckReport::link(checked.link));
    // A block whose query the loss cut short has no reading to report.
    run.report.insert(QStringLiteral("blocks"), checked.block.number > 0 && !checked.block.portLost
                                                    ? QJsonArray{CheckReport::block(checked.block)}
                                                    : QJsonArray());
    return run.finish(status);
}

int scanCommand(const CheckOptions &o)
{
    PortRun run(o);
    run.scanning = true;
    const ReplyEnd end = o.fullWaits ? ReplyEnd::FullWait : ReplyEnd::AtFirstCr;
    const bool repeated = o.repeat.has_value();
    const int rounds = o.repeat.value_or(1);
    // A night of rounds keeps nothing per round but the tally: with --repeat
    // each round's document goes out as one line as soon as the round ends.
    ScanTally tally;
    QJsonArray roundReports;
    int linkFailure = kEverythingAnswered;
    for (int n = 1; rounds == 0 || n <= rounds; ++n) {
        const QString prefix = repeated ? QStringLiteral("Круг %1: ").arg(n) : QString();
        const ScanRound round = run.scan.run(end, prefix);
        if (o.json && repeated && !run.stoppedAtOnce)
            CheckReport::print(CheckReport::round(n, round), std::nullopt, true);
        else if (o.json)
            roundReports << CheckReport::round(n, round);
        tally.add(round);
        if (round.link.verdict != LineTests::LinkGood) {
            linkFailure = linkStatus(round.link.verdict);
            if (repeated && round.link.verdict > LineTests::LinkGood)
                run.panel.addMessage(prefix + linkFailedWords(round.link.verdict));
        }
        run.lost = run.lost || round.portLost;
        // Without the port every later round would fail the same way.
        if (round.portLost || round.stopped || run.scanStopAsked || round.link.verdict == LineTests::PortNotOpen)
            break;
    }
    // After the lost-port line nothing more is said: each round's summary stands above it.
    if (repeated && !run.lost)
        for (const QString &line : tally.lines())
            run.panel.addMessage(line);
    run.report.insert(QStringLiteral("replyEnd"),
                      o.fullWaits ? QStringLiteral("full-wait") : QStringLiteral("line-end"));
    if (repeated)
        run.report.insert(QStringLiteral("roundCount"), tally.rounds());
    else
        run.report.insert(QStringLiteral("rounds"), roundReports);
    run.report.insert(QStringLiteral("totals"), CheckReport::tally(tally, run.statistics));
    run.oneLineReport = repeated;
    if (run.lost)
        return run.finish(kPortNotOpen);
    return run.finish(linkFailure != kEverythingAnswered ? linkFailure
                      : tally.allAnswered()              ? kEverythingAnswered
                                                         : kBlockSilent);
}

// A watch ends as a repeated scan would: the link test's error of its last
// round, else whether every block of the installation answered every time.
int watchCommand(const CheckOptions &o)
{
    PortRun run(o);
    run.scanning = true;
    const InstallationWatch::Result watched = run.watch.run(o.repeat.value_or(0));
    run.report.insert(QStringLiteral("roundCount"), watched.rounds);
    run.report.insert(QStringLiteral("totals"), CheckReport::statistics(run.statistics));
    if (watched.portNotOpen)
        return run.finish(kPortNotOpen);
    if (run.statistics.lastLinkVerdict() != LineTests::LinkGood)
        return run.finish(linkStatus(run.statistics.lastLinkVerdict()));
    for (const int n : run.statistics.installed())
        if (run.statistics.state(n) != BlockState::Answering)
            return run.finish(kBlockSilent);
    return run.finish(kEverythingAnswered);
}

int portsCommand(const CheckOptions &o)
{
    const QDateTime started = QDateTime::currentDateTime();
    const SettingsStore store = userSettings();
    QList<PortListing> ports = listPorts(Settings::load(store), detectedPorts());
    markConsoles(ports, consoleDevices());
    if (o.json) {
        QJsonObject report = CheckReport::header(QStringLiteral("ports"), started);
        report.insert(QStringLiteral("ports"), CheckReport::ports(ports));
        CheckReport::print(report, kEverythingAnswered);
    } else {
        for (const PortListing &port : ports)
            Cli::printLine(portListingLine(port));
        if (ports.isEmpty())
            tell(QStringLiteral("Последовательных портов в системе нет, и в [PORTS] ничего не записано"));
    }
    return Cli::exitStatus(kProgram, kEverythingAnswered);
}

// The ports named with --port, or else every port of the system and of [PORTS].
QList<SearchCandidate> findCandidates(const CheckOptions &o, const Settings &settings,
                                      const QList<DetectedPort> &detected)
{
    if (o.ports.isEmpty())
        return searchCandidates(settings, detected);
    QList<SearchCandidate> candidates;
    for (const NamedPort &named : o.ports)
        candidates.emplaceBack().device = named.number ? settings.deviceFor(*named.number) : named.device;
    return candidates;
}

// find --save: the port and rate found, for the window; false when not saved.
bool saveFound(SettingsStore &store, const SearchCandidate &found, const QList<DetectedPort> &detected)
{
    const SavedInstallation saved = saveFoundInstallation(store, found, detected);
    if (saved.saved) {
        tell(QStringLiteral("Сохранено: COM%1 (%2), %3 бод")
                 .arg(QString::number(saved.comPort), saved.device, QString::number(found.baudRate)));
        return true;
    }
    // A file that refused the save has told why.
    if (saved.comPort == 0)
        tell(QStringLiteral("Не сохранено: у каждого из COM1-COM8 есть своё устройство или запись в [PORTS]; "
                            "назначьте устройство в окне (Настройки - Устройства COM-портов)"));
    return false;
}

int findCommand(const CheckOptions &o)
{
    const QDateTime started = QDateTime::currentDateTime();
    SettingsStore store = userSettings();
    const Settings settings = Settings::load(store);
    const qint32 firstRate = o.baud.value_or(settings.baudRate);
    const QList<DetectedPort> detected = detectedPorts();
    SteadyClock clock;
    Stopwatch wait(clock);
    QtSerialPort port;
    ConsolePanel panel {o.json};
    const StopSignals stop([&](int) {
        panel.silence();
        wait.abandon();
        port.close();
    });
    InstallationSearch search(port, wait, panel);
    tell(QStringLiteral("Поиск установки, первой пробуется скорость %1 бод").arg(firstRate));
    QElapsedTimer took;
    took.start();
    const SearchResult result = search.run(findCandidates(o, settings, detected), firstRate);
    if (stop.caught()) {
        tell(QStringLiteral("Поиск прерван сигналом %1, порт закрыт").arg(stop.name()));
        return stop.exitStatus();
    }
    const SearchCandidate *found = result.installation();
    int status = found ? kEverythingAnswered : kInstallationNotFound;
    if (found && o.save && !saveFound(store, *found, detected))
        status = kNotSaved;
    if (o.json) {
        QJsonObject report = CheckReport::header(QStringLiteral("find"), started);
        report.insert(QStringLiteral("firstBaud"), firstRate);
        report.insert(QStringLiteral("candidates"), CheckReport::candidates(result.candidates));
        report.insert(QStringLiteral("installation"),
                      found ? QJsonValue(QJsonObject{{QStringLiteral("device"), found->device},
                                                     {QStringLiteral("baud"), found->baudRate}})
                            : QJsonValue());
        CheckReport::print(report, status);
    }
    return closingStatus(QStringLiteral("Поиск занял"), took.elapsed(), status);
}

const QList<CheckCommand> kCommands = {
    {"link", false, false, kFastOption | kSimulateOption, linkCommand,
     "  link       проверка связи: COM-порт, БС, БСУ (кнопка \"Запуск проверки связи\")\n"},
    {"block", true, false, kFastOption | kSimulateOption, blockCommand,
     "  block N    проверка связи с блоком N от 1 до 32 (кнопка \"Проверка связи с блоком\");\n"
     "             номер блока сохраняется, как в окне\n"},
    {"scan", false, false, kFullWaitsOption | kRepeatOption | kReportOption | kSimulateOption, scanCommand,
     "  scan       проверка связи, затем опрос блоков 1-32 и итоговая строка; ничего не сохраняет.\n"
     "             Ожидание каждого ответа кончается с концом его строки (CR LF); блок, который\n"
     "             не отвечает, ждут полную секунду\n"},
    {"watch", false, false, kRepeatOption | kReportOption | kSimulateOption, watchCommand,
     "  watch      наблюдение: круги проверки связи и опроса блоков установки до Ctrl+C (или --repeat N\n"
     "             кругов); строка - только когда меняется состояние блока или итог проверки связи\n"},
    {"ports", false, false, 0, portsCommand,
     "  ports      последовательные порты системы и устройства из [PORTS]: номер COM, устройство,\n"
     "             постоянное имя в /dev/serial/by-id, описание, изготовитель, серийный номер, состояние\n"},
    {"find", false, true, kSaveOption, findCommand,
     "  find       поиск установки: на каждом порту DTR, RTS, DSR и CTS как в проверке связи, затем\n"
     "             \"#0002\" на сохранённой скорости и на каждой из восьми скоростей окна настроек.\n"
     "             Без --port проверяются все порты системы и устройства из [PORTS], кроме занятых\n"
     "             и системной консоли; с --port (можно несколько раз) - только названные.\n"
     "             --save сохраняет найденные порт и скорость (и запись в [PORTS]) для окна\n"},
};

// A PDF report needs fonts, and so Qt Gui, without a window system.
bool pdfReportAsked(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        const bool named = arg == "--report" && i + 1 < argc;
        if ((named && QByteArray(argv[i + 1]).toLower().endsWith(".pdf"))
            || (arg.startsWith("--report=") && arg.toLower().endsWith(".pdf")))
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    Cli::beginProgram();
#ifdef Q_OS_UNIX
    // A reader that went away is a failed write, told and ended like any other.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    const bool pdfReport = pdfReportAsked(argc, argv);
    // Platforms with fonts and no window: offscreen here, Windows' own there
    // (the minimal one, which a Wine prefix may name, has no fonts to embed).
    if (pdfReport)
#ifdef Q_OS_WIN
        qputenv("QT_QPA_PLATFORM", "windows");
#else
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    std::unique_ptr<QCoreApplication> application = pdfReport ? std::make_unique<QGuiApplication>(argc, argv)
                                                              : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(kProgram);
    QCoreApplication::setApplicationVersion(QStringLiteral(LINKPROBE_VERSION));

    QString error;
    const std::optional<CheckOptions> options = parseCheckArguments(QCoreApplication::arguments(), kCommands, &error);
    if (!options)
        return Cli::badArguments(kProgram, error);
    if (options->help)
        return Cli::printHelp(kProgram, checkUsage(kCommands).constData());
    // A check cut short by a signal ends as the signal would have ended it.
    return options->command->run(*options);
}
