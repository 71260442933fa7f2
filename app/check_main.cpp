// linkprobe-check: the link test, the block check and a scan of all blocks,
// without a window. The procedures are the window's own; only the panel differs:
// the lines of the message log go to standard output, everything else to
// standard error, and the verdict becomes the exit status.

#include "app/cli.h"
#include "app/checkreport.h"
#include "app/consolepanel.h"
#include "app/stopsignals.h"
#include "checks/blockscan.h"
#include "checks/blockstatistics.h"
#include "checks/watch.h"
#include "checks/checksession.h"
#include "checks/installationsearch.h"
#include "checks/blockranges.h"
#include "link/clock.h"
#include "link/settings.h"
#include "link/portlist.h"
#include "link/qtserialport.h"
#include "link/settingsstore.h"
#include "link/systemports.h"
#include "report/installationreport.h"
#include "sim/scenario.h"
#include "sim/simulatedinstallation.h"
#include "sim/simulatedport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QList>
#include <QRegularExpression>
#include <QStringList>
#include <csignal>
#include <limits>
#include <memory>
#include <optional>

namespace {

// Exit statuses; 1 to 4 are the number of the link test's error.
constexpr int kEverythingAnswered = 0;
constexpr int kBlockSilent = 5;
constexpr int kPortNotOpen = 6;
constexpr int kInstallationNotFound = 7;
// A save that was asked for (find --save, --report) failed, as sysexits'
// EX_CANTCREAT; the verdict is on standard output all the same.
constexpr int kNotSaved = 73;

constexpr int kBlockCount = 32;

const char kUsage[] =
    "Использование: linkprobe-check [--port N|УСТРОЙСТВО] [--baud СКОРОСТЬ] [--simulate[=СЦЕНАРИЙ]] [--instant]\n"
    "                               [--json] [--fast] link | block N\n"
    "       linkprobe-check [--port N|УСТРОЙСТВО] [--baud СКОРОСТЬ] [--simulate[=СЦЕНАРИЙ]] [--instant]\n"
    "                               [--json] [--full-waits] [--repeat N] [--report ФАЙЛ] scan\n"
    "       linkprobe-check [--port N|УСТРОЙСТВО] [--baud СКОРОСТЬ] [--simulate[=СЦЕНАРИЙ]] [--instant]\n"
    "                               [--json] [--repeat N] [--report ФАЙЛ] watch\n"
    "       linkprobe-check [--json] ports\n"
    "       linkprobe-check [--port N|УСТРОЙСТВО]... [--baud СКОРОСТЬ] [--save] [--json] find\n"
    "\n"
    "Проверка связи без окна: те же проверки, что и кнопки программы linkprobe.\n"
    "Строки окна сообщений идут на стандартный вывод (UTF-8, по строке), всё прочее - в поток ошибок.\n"
    "\n"
    "Команды:\n"
    "  link       проверка связи: COM-порт, БС, БСУ (кнопка \"Запуск проверки связи\")\n"
    "  block N    проверка связи с блоком N от 1 до 32 (кнопка \"Проверка связи с блоком\");\n"
    "             номер блока сохраняется, как в окне\n"
    "  scan       проверка связи, затем опрос блоков 1-32 и итоговая строка; ничего не сохраняет.\n"
    "             Ожидание каждого ответа кончается с концом его строки (CR LF); блок, который\n"
    "             не отвечает, ждут полную секунду\n"
    "  watch      наблюдение: круги проверки связи и опроса блоков установки до Ctrl+C (или --repeat N\n"
    "             кругов); строка - только когда меняется состояние блока или итог проверки связи\n"
    "  ports      последовательные порты системы и устройства из [PORTS]: номер COM, устройство,\n"
    "             постоянное имя в /dev/serial/by-id, описание, изготовитель, серийный номер, состояние\n"
    "  find       поиск установки: на каждом порту DTR, RTS, DSR и CTS как в проверке связи, затем\n"
    "             \"#0002\" на сохранённой скорости и на каждой из восьми скоростей окна настроек.\n"
    "             Без --port проверяются все порты системы и устройства из [PORTS], кроме занятых\n"
    "             и системной консоли; с --port (можно несколько раз) - только названные.\n"
    "             --save сохраняет найденные порт и скорость (и запись в [PORTS]) для окна\n"
    "\n"
    "Параметры (только на этот запуск, сохранённые настройки не меняются):\n"
    "  --port N              COM-порт номер N (1-255)\n"
    "  --port УСТРОЙСТВО     устройство порта, например /dev/ttyUSB0\n"
    "  --baud СКОРОСТЬ       скорость в бодах\n"
    "  --save                только с find: сохранить найденные порт и скорость\n"
    "  --fast                только с link и block: ждать ответ до конца его строки, а не полное время\n"
    "  --full-waits          только со scan: полное время ожидания каждого ответа, как у кнопок окна\n"
    "  --repeat N            только со scan: N кругов подряд (0 - пока не нажато Ctrl+C), итог каждого\n"
    "                        круга и в конце - сколько раз ответил каждый блок, пропустивший ответ\n"
    "  --report ФАЙЛ         только со scan и watch: отчёт по блокам в ФАЙЛ, PDF для .pdf, CSV для .csv\n"
    "  --object ТЕКСТ        название объекта в отчёте (по умолчанию - сохранённое в окне)\n"
    "  --technician ТЕКСТ    кто проверял, для отчёта (по умолчанию - сохранённое в окне)\n"
    "  --json                вместо строк - один документ JSON на стандартный вывод (поля - в docs/REFERENCE.md)\n"
    "  --simulate[=СЦЕНАРИЙ] вместо порта - имитация установки (можно и --simulate СЦЕНАРИЙ); сценарий -\n"
    "                        слова через запятую: ok, no-cable, no-power, line-break, bsu-off,\n"
    "                        blocks=СПИСОК (например blocks=1-5,9), flaky=СПИСОК (блоки отвечают через раз),\n"
    "                        noise, late, unplugged; по умолчанию ok\n"
    "  --instant             только с --simulate: ожидания проходят мгновенно (для пробы сценариев)\n"
    "  -h, --help            эта справка\n"
    "Без --port и --baud используются сохранённые порт и скорость.\n"
    "\n"
    "Ctrl+C во время scan останавливает проверку после текущего блока и выводит итог (второе Ctrl+C\n"
    "или другой сигнал - сразу, код 130). Со --repeat и --json каждый круг - строка JSON по его окончании.\n"
    "\n"
    "Код завершения: 0 - все ответили; 1-4 - номер ошибки проверки связи; 5 - блок не ответил\n"
    "(со --repeat - хотя бы раз); 6 - порт не открылся или закрылся во время проверки (строки до этого -\n"
    "не диагноз); 7 - установка не найдена (find); 73 - не сохранено то, что просили сохранить\n"
    "(find --save, --report; итог - на стандартном выводе); 64 - неверные аргументы;\n"
    "74 - не удалось записать на стандартный вывод; 129, 130, 143 - прервано\n"
    "сигналом SIGHUP, SIGINT (Ctrl+C), SIGTERM: порт закрыт, его настройки возвращены.\n";

const char kCommandNames[][6] = {"link", "block", "scan", "ports", "find", "watch"};

using Cli::tell;

enum class Command { Link, Block, Scan, Ports, Find, Watch };

struct Options
{
    Command command = Command::Link;
    int block = 0;
    std::optional<qint16> portNumber;
    QString portDevice;   // set instead of portNumber when --port named a device
    std::optional<qint32> baud;
    QStringList findPorts;   // find: the candidates named, as given
    bool save = false;
    bool fast = false;
    bool fullWaits = false;
    std::optional<int> repeat;   // scan: rounds, 0 = until Ctrl+C
    bool json = false;
    bool simulate = false;
    Scenario scenario;
    bool instant = false;
    bool help = false;
    QString report;       // scan, watch: the report's file
    std::optional<QString> object;
    std::optional<QString> technician;
};

bool isDecimal(const QString &text)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    return digits.match(text).hasMatch();
}

// A whole decimal number within [low, high], nothing else.
std::optional<qint64> decimalIn(const QString &text, qint64 low, qint64 high)
{
    if (!isDecimal(text))
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

bool setPort(const QString &value, Options &o, QString *error)
{
    static const QRegularExpression comName(QStringLiteral("^COM([0-9]+)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch com = comName.match(value);
    const QString number = com.hasMatch() ? com.captured(1) : value;
    if (const auto n = decimalIn(number, 1, 255)) {
        o.portNumber = qint16(*n);
        o.portDevice.clear();
        return true;
    }
#ifndef Q_OS_WIN
    // Elsewhere ports are device files; whether this one exists shows when it is opened.
    if (!isDecimal(number) && value.contains(QLatin1Char('/'))) {
        o.portDevice = value;
        o.portNumber.reset();
        return true;
    }
    *error = QStringLiteral("неверный порт \"%1\": нужен номер COM-порта от 1 до 255 или путь к устройству, "
                            "например /dev/ttyUSB0").arg(value);
#else
    *error = QStringLiteral("неверный порт \"%1\": нужен номер COM-порта от 1 до 255").arg(value);
#endif
    return false;
}

bool setBaud(const QString &value, Options &o, QString *error)
{
    const auto baud = decimalIn(value, 1, std::numeric_limits<qint32>::max());
    if (!baud) {
        *error = QStringLiteral("неверная скорость \"%1\": нужно целое число бод, например 4800 или 115200").arg(value);
        return false;
    }
    o.baud = qint32(*baud);
    return true;
}

const QStringList kCommandWords = {QStringLiteral("link"), QStringLiteral("block"), QStringLiteral("scan"),
                                   QStringLiteral("ports"), QStringLiteral("find"), QStringLiteral("watch")};

// Fills the options from the arguments (the program's name first); nothing,
// and the reason in *error, when they do not make a run.
std::optional<Options> parseArguments(const QStringList &args, QString *error)
{
    Options o;
    const auto fail = [error](const QString &why) {
        *error = why;
        return std::nullopt;
    };

    QCommandLineParser parser;
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("port"));
    const QCommandLineOption baud(QStringLiteral("baud"), QString(), QStringLiteral("baud"));
    const QCommandLineOption simulate(QStringLiteral("simulate"), QString(), QStringLiteral("scenario"));
    const QCommandLineOption instant(QStringLiteral("instant"));
    const QCommandLineOption save(QStringLiteral("save"));
    const QCommandLineOption fast(QStringLiteral("fast"));
    const QCommandLineOption fullWaits(QStringLiteral("full-waits"));
    const QCommandLineOption repeat(QStringLiteral("repeat"), QString(), QStringLiteral("rounds"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption report(QStringLiteral("report"), QString(), QStringLiteral("file"));
    const QCommandLineOption object(QStringLiteral("object"), QString(), QStringLiteral("text"));
    const QCommandLineOption technician(QStringLiteral("technician"), QString(), QStringLiteral("text"));
    parser.addOptions({port, baud, simulate, instant, save, fast, fullWaits, repeat, json, help, report, object, technician});
    if (!Cli::parse(parser, Cli::joinSimulateValue(args, kCommandWords), error))
        return std::nullopt;
    if (parser.isSet(help)) {
        o.help = true;
        return o;
    }

    // A repeated option counts with its last value.
    if (parser.isSet(port) && !setPort(parser.values(port).constLast(), o, error))
        return std::nullopt;
    if (parser.isSet(baud) && !setBaud(parser.values(baud).constLast(), o, error))
        return std::nullopt;
    if (parser.isSet(simulate)) {
        QString why;
        const auto scenario = Scenario::parse(parser.values(simulate).constLast(), &why);
        if (!scenario)
            return fail(QStringLiteral("неверный сценарий: ") + why);
        o.simulate = true;
        o.scenario = *scenario;
    }
    o.instant = parser.isSet(instant);
    o.save = parser.isSet(save);
    o.fast = parser.isSet(fast);
    o.fullWaits = parser.isSet(fullWaits);
    o.json = parser.isSet(json);
    if (parser.isSet(repeat)) {
        const QString value = parser.values(repeat).constLast();
        const auto rounds = decimalIn(value, 0, std::numeric_limits<int>::max());
        if (!rounds)
            return fail(QStringLiteral("неверное число кругов \"%1\": нужно целое число от 0 (до Ctrl+C)").arg(value));
        o.repeat = int(*rounds);
    }
    if (parser.isSet(report)) {
        o.report = parser.values(report).constLast();
        if (InstallationReport::formatFor(o.report) == InstallationReport::Format::Unknown)
            return fail(QStringLiteral("неверный файл отчёта \"%1\": нужно окончание .pdf или .csv").arg(o.report));
    }
    if (parser.isSet(object))
        o.object = parser.values(object).constLast();
    if (parser.isSet(technician))
        o.technician = parser.values(technician).constLast();
    const QStringList words = parser.positionalArguments();

    if (o.instant && !o.simulate)
        return fail(QStringLiteral("--instant действует только вместе с --simulate"));
    if (words.isEmpty())
        return fail(QStringLiteral("не задана команда: link, block N, scan, watch, ports или find"));

    const QString &command = words.first();
    int expectedWords = 1;
    if (command == QLatin1String("link")) {
        o.command = Command::Link;
    } else if (command == QLatin1String("scan")) {
        o.command = Command::Scan;
    } else if (command == QLatin1String("watch")) {
        o.command = Command::Watch;
    } else if (command == QLatin1String("block")) {
        o.command = Command::Block;
        if (words.size() < 2)
            return fail(QStringLiteral("после block нужен номер блока от 1 до 32"));
        const auto n = decimalIn(words.at(1), 1, kBlockCount);
        if (!n)
            return fail(QStringLiteral("неверный номер блока \"%1\": нужно число от 1 до 32").arg(words.at(1)));
        o.block = int(*n);
        expectedWords = 2;
    } else if (command == QLatin1String("ports")) {
        o.command = Command::Ports;
    } else if (command == QLatin1String("find")) {
        o.command = Command::Find;
        // Every --port counts here: each names one candidate.
        for (const QString &value : parser.values(port)) {
            Options one;
            if (!setPort(value, one, error))
                return std::nullopt;
            o.findPorts << (one.portNumber ? QString::number(*one.portNumber) : one.portDevice);
        }
    } else {
        return fail(QStringLiteral("неизвестная команда \"%1\": нужна link, block N, scan, watch, ports или find").arg(command));
    }
    if (o.save && o.command != Command::Find)
        return fail(QStringLiteral("--save действует только с командой find"));
    if (o.fast && o.command != Command::Link && o.command != Command::Block)
        return fail(QStringLiteral("--fast действует только с командами link и block (scan и так ждёт до конца строки)"));
    if (o.fullWaits && o.command != Command::Scan)
        return fail(QStringLiteral("--full-waits действует только с командой scan"));
    if (o.repeat && o.command != Command::Scan && o.command != Command::Watch)
        return fail(QStringLiteral("--repeat действует только с командами scan и watch"));
    if ((!o.report.isEmpty() || o.object || o.technician) && o.command != Command::Scan && o.command != Command::Watch)
        return fail(QStringLiteral("--report, --object и --technician действуют только с командами scan и watch"));
    if (o.simulate && (o.command == Command::Ports || o.command == Command::Find))
        return fail(QStringLiteral("--simulate не действует с командами ports и find: они смотрят настоящие порты"));
    if (words.size() > expectedWords)
        return fail(QStringLiteral("лишние аргументы: ") + words.mid(expectedWords).join(QLatin1Char(' ')));
    return o;
}

int linkStatus(int verdict)
{
    // A port lost during the test is one that did not stay open: no verdict.
    return verdict == LineTests::PortNotOpen || verdict == LineTests::PortLost ? kPortNotOpen : verdict;
}

// The closing line on standard error and the status it names, which is the
// one the program ends with: a standard output that failed makes it 74.
int closingStatus(const QString &what, qint64 ms, int status)
{
    status = Cli::exitStatus(QStringLiteral("linkprobe-check"), status);
    tell(QStringLiteral("%1 %2 мс, код завершения %3").arg(what).arg(ms).arg(status));
    return status;
}

// A watch ends as a repeated scan would: the link test's error of its last
// round, else whether every block of the installation answered every time.
int watchStatus(const InstallationWatch::Result &watched, const BlockStatistics &statistics)
{
    if (watched.portNotOpen)
        return kPortNotOpen;
    if (statistics.lastLinkVerdict() != LineTests::LinkGood)
        return linkStatus(statistics.lastLinkVerdict());
    for (const int n : statistics.installed())
        if (statistics.state(n) != BlockState::Answering)
            return kBlockSilent;
    return kEverythingAnswered;
}

// The user's own settings. Whatever stands in the way of reading or saving
// the file is told on standard error; the verdict stays the verdict.
SettingsStore userSettings()
{
    SettingsStore store;
    store.setProblemHandler(tell);
    return store;
}

int listPortsCommand(const Options &o)
{
    const QDateTime started = QDateTime::currentDateTime();
    const SettingsStore store = userSettings();
    QList<PortListing> ports = listPorts(Settings::load(store), detectedPorts());
    markConsoles(ports, consoleDevices());
    if (o.json) {
        QJsonObject report = CheckReport::header(QStringLiteral("ports"), started);
        report.insert(QStringLiteral("ports"), CheckReport::ports(ports));
        report.insert(QStringLiteral("exitStatus"), kEverythingAnswered);
        CheckReport::print(report);
        return Cli::exitStatus(QStringLiteral("linkprobe-check"), kEverythingAnswered);
    }
    ConsolePanel panel;
    for (const PortListing &port : ports)
        panel.addMessage(portListingLine(port));
    if (ports.isEmpty())
        tell(QStringLiteral("Последовательных портов в системе нет, и в [PORTS] ничего не записано"));
    return Cli::exitStatus(QStringLiteral("linkprobe-check"), kEverythingAnswered);
}

int findCommand(const Options &o, std::optional<int> *stoppedBy)
{
    const QDateTime started = QDateTime::currentDateTime();
    SettingsStore store = userSettings();
    const Settings settings = Settings::load(store);
    const qint32 firstRate = o.baud.value_or(settings.baudRate);
    const QList<DetectedPort> detected = detectedPorts();
    QList<SearchCandidate> candidates;
    if (o.findPorts.isEmpty()) {
        candidates = searchCandidates(settings, detected);
    } else {
        for (const QString &named : o.findPorts) {
            SearchCandidate candidate;
            candidate.device = isDecimal(named) ? settings.deviceFor(qint16(named.toInt())) : named;
            candidates << candidate;
        }
    }

    SteadyClock clock;
    Stopwatch wait(clock);
    QtSerialPort port;
    ConsolePanel panel;
    if (o.json)
        panel.silence();
    const StopSignals stop([&](int) {
        panel.silence();
        wait.abandon();
        port.close();
    });
    InstallationSearch search(port, wait, panel);
    search.openFailure = [&port] {
        QStringList why {Cli::unopenedPortReason(port.device(), port.openError(), port.openDeniedAccess())};
        why << Cli::unopenedPortHints(port.device(), port.openDeniedAccess());
        return why.join(QStringLiteral("; "));
    };
    tell(QStringLiteral("Поиск установки, первой пробуется скорость %1 бод").arg(firstRate));
    QElapsedTimer took;
    took.start();
    const SearchResult result = search.run(candidates, firstRate);
    if (stop.caught()) {
        tell(QStringLiteral("Поиск прерван сигналом %1, порт закрыт").arg(stop.name()));
        *stoppedBy = stop.exitStatus();
        return stop.exitStatus();
    }
    const SearchCandidate *found = result.installation();
    int status = found ? kEverythingAnswered : kInstallationNotFound;
    if (found && o.save) {
        const SavedInstallation saved = saveFoundInstallation(store, *found, detected);
        if (saved.saved) {
            tell(QStringLiteral("Сохранено: COM%1 (%2), %3 бод").arg(saved.comPort).arg(saved.device).arg(found->baudRate));
        } else {
            // A file that refused the save has told why.
            if (saved.comPort == 0)
                tell(QStringLiteral("Не сохранено: у каждого из COM1-COM8 есть своё устройство или запись в [PORTS]; "
                                    "назначьте устройство в окне (Настройки - Устройства COM-портов)"));
            status = kNotSaved;
        }
    }
    if (o.json) {
        QJsonObject report = CheckReport::header(QStringLiteral("find"), started);
        report.insert(QStringLiteral("firstBaud"), firstRate);
        report.insert(QStringLiteral("candidates"), CheckReport::candidates(result.candidates));
        report.insert(QStringLiteral("installation"),
                      found ? QJsonValue(QJsonObject{{QStringLiteral("device"), found->device},
                                                     {QStringLiteral("baud"), found->baudRate}})
                            : QJsonValue());
        report.insert(QStringLiteral("exitStatus"), status);
        CheckReport::print(report);
    }
    return closingStatus(QStringLiteral("Поиск занял"), took.elapsed(), status);
}

int run(const Options &o, std::optional<int> *stoppedBy)
{
    if (o.command == Command::Ports)
        return listPortsCommand(o);
    if (o.command == Command::Find)
        return findCommand(o, stoppedBy);

    // The user's own settings; the options of this run only shadow them.
    SettingsStore store = userSettings();
    Settings settings = Settings::load(store);
    settings.comPort = o.portNumber.value_or(settings.comPort);
    settings.baudRate = o.baud.value_or(settings.baudRate);

    std::unique_ptr<Clock> clock;
    if (o.instant)
        clock = std::make_unique<ManualClock>();
    else
        clock = std::make_unique<SteadyClock>();
    SimulatedInstallation installation(o.scenario);
    std::unique_ptr<SerialPort> port;
    QtSerialPort *realPort = nullptr;
    if (o.simulate) {
        port = std::make_unique<SimulatedPort>(installation, *clock);
    } else {
        auto qtPort = std::make_unique<QtSerialPort>();
        realPort = qtPort.get();
        port = std::move(qtPort);
    }

    const QDateTime started = QDateTime::currentDateTime();
    // The window preselects the saved block; the block check takes the one asked for.
    ConsolePanel panel;
    if (o.json)
        panel.silence();
    CheckSession session(*port, store, *clock, panel);
    BlockScan scan(session.tests(), *port, panel);
    // The installation's blocks, as saved in the window; what each reply showed.
    BlockStatistics statistics;
    {
        QString problem;
        statistics.setInstalled(installedBlocks(settings.installedBlocks, &problem));
        if (!problem.isEmpty())
            tell(problem);
    }
    scan.setBlocks(statistics.installed());
    scan.onLinkTest = [&statistics](int verdict) {
        statistics.addRound();
        statistics.addLinkTest(verdict);
    };
    scan.onBlock = [&statistics](const BlockReading &reading) { statistics.add(reading, QDateTime::currentDateTime()); };
    InstallationWatch watch(session, panel, statistics);
    bool scanning = false;
    bool scanStopAsked = false;
    bool stoppedAtOnce = false;
    // Stopped, the check runs out at once (every wait abandoned) without its port.
    // Ctrl+C in a scan stops it after the block under way, with its summary
    // and verdict; any signal after it ends the program at once.
    const StopSignals stop([&](int signal) {
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
    });
    const bool opened = session.openPort(settings, o.portDevice);
    const CheckState &state = session.state();
    panel.setBlockListIndex(o.command == Command::Block ? o.block - 1 : state.blockNumber - 1);
    LineTests &tests = session.tests();

    // The port as the technician names it: the COM number, or the device he gave.
    const QString portName = o.portDevice.isEmpty()
                                 ? QStringLiteral("COM%1 (%2)").arg(state.comPort).arg(port->device())
                                 : o.portDevice;
    if (o.simulate) {
        tell(QStringLiteral("Имитация установки \"%1\", %2, %3 бод%4")
                 .arg(o.scenario.toString(),
                      o.portDevice.isEmpty() ? QStringLiteral("COM%1").arg(state.comPort) : o.portDevice)
                 .arg(state.baudRate)
                 .arg(o.instant ? QStringLiteral(", мгновенное время") : QString()));
    } else {
        tell(QStringLiteral("Порт %1, %2 бод").arg(portName).arg(state.baudRate));
    }
    if (!opened) {
        if (realPort) {
            tell(QStringLiteral("Порт %1 не открылся: %2")
                     .arg(portName, Cli::unopenedPortReason(port->device(), realPort->openError(),
                                                            realPort->openDeniedAccess())));
            for (const QString &hint : Cli::unopenedPortHints(port->device(), realPort->openDeniedAccess()))
                tell(hint);
        } else if (o.scenario.unplugged) {
            tell(QStringLiteral("Имитируемый порт не открылся: адаптер отключён (сценарий unplugged)"));
        } else {
            tell(QStringLiteral("Имитируемый порт не открылся"));
        }
    }

    // Another program with the port open may take replies away: told beside
    // the other hints, and the check goes on.
    const QList<PortUser> sharers = realPort && opened
                                        ? portUsers(port->device(), QCoreApplication::applicationPid())
                                        : QList<PortUser>();
    for (const QString &line : sharedPortWarnings(portName, sharers))
        tell(line);

    QJsonObject report = CheckReport::header(QLatin1String(kCommandNames[int(o.command)]), started);
    report.insert(QStringLiteral("port"), o.portDevice.isEmpty() ? QStringLiteral("COM%1").arg(state.comPort)
                                                                 : o.portDevice);
    report.insert(QStringLiteral("device"), port->device());
    report.insert(QStringLiteral("baud"), state.baudRate);
    report.insert(QStringLiteral("simulated"), o.simulate ? QJsonValue(o.scenario.toString()) : QJsonValue());
    report.insert(QStringLiteral("portOpened"), opened);
    report.insert(QStringLiteral("sharedWith"), CheckReport::portUsers(sharers));

    QElapsedTimer took;
    took.start();
    int status = kEverythingAnswered;
    bool lost = false;   // the port closed during the check, which has told it: no verdict
    tests.setReplyEnd(o.fast ? ReplyEnd::AtFirstCr : ReplyEnd::FullWait);
    switch (o.command) {
    case Command::Link:
        status = linkStatus(tests.linkTest());
        lost = tests.lastLinkVerdict() == LineTests::PortLost;
        report.insert(QStringLiteral("link"), CheckReport::link(tests.lastLinkVerdict(), tests.lastLinkReply()));
        break;
    case Command::Block:
        tests.blockCheck();
        lost = tests.lastLinkVerdict() == LineTests::PortLost || tests.lastBlock().portLost;
        if (!opened || lost)
            status = kPortNotOpen;
        else if (tests.lastLinkVerdict() != LineTests::LinkGood)
            status = linkStatus(tests.lastLinkVerdict());
        else
            status = tests.lastBlockAnswered() ? kEverythingAnswered : kBlockSilent;
        report.insert(QStringLiteral("link"), CheckReport::link(tests.lastLinkVerdict(), tests.lastLinkReply()));
        // A block whose query the loss cut short has no reading to report.
        report.insert(QStringLiteral("blocks"), tests.lastBlock().number > 0 && !tests.lastBlock().portLost
                                                    ? QJsonArray{CheckReport::block(tests.lastBlock())}
                                                    : QJsonArray());
        break;
    case Command::Scan: {
        scanning = true;
        const ReplyEnd end = o.fullWaits ? ReplyEnd::FullWait : ReplyEnd::AtFirstCr;
        const bool repeated = o.repeat.has_value();
        const int rounds = o.repeat.value_or(1);
        // A night of rounds keeps nothing per round but the tally: with --repeat
        // each round's document goes out as one line as soon as the round ends.
        ScanTally tally;
        QJsonArray roundReports;
        int roundsRun = 0;
        int linkFailure = kEverythingAnswered;
        for (int n = 1; rounds == 0 || n <= rounds; ++n) {
            const QString prefix = repeated ? QStringLiteral("Круг %1: ").arg(n) : QString();
            const ScanRound round = scan.run(end, prefix);
            roundsRun = n;
            if (o.json && repeated && !stoppedAtOnce)
                CheckReport::printOneLine(CheckReport::round(n, round));
            else if (o.json)
                roundReports << CheckReport::round(n, round);
            tally.add(round);
            if (round.linkVerdict != LineTests::LinkGood) {
                linkFailure = linkStatus(round.linkVerdict);
                if (repeated && round.linkVerdict > LineTests::LinkGood)
                    panel.addMessage(prefix + QStringLiteral("проверка связи не прошла (ошибка №%1)").arg(round.linkVerdict));
            }
            lost = lost || round.portLost;
            // Without the port every later round would fail the same way.
            if (round.portLost || round.stopped || scanStopAsked || round.linkVerdict == LineTests::PortNotOpen)
                break;
        }
        // After the lost-port line nothing more is said: each round's summary stands above it.
        if (repeated && !lost) {
            for (const QString &line : tally.lines())
                panel.addMessage(line);
        }
        if (lost)
            status = kPortNotOpen;
        else if (linkFailure != kEverythingAnswered)
            status = linkFailure;
        else
            status = tally.allAnswered() ? kEverythingAnswered : kBlockSilent;
        report.insert(QStringLiteral("replyEnd"), o.fullWaits ? QStringLiteral("full-wait")
                                                              : QStringLiteral("line-end"));
        if (repeated)
            report.insert(QStringLiteral("roundCount"), roundsRun);
        else
            report.insert(QStringLiteral("rounds"), roundReports);
        report.insert(QStringLiteral("totals"), CheckReport::tally(tally, statistics));
        break;
    }
    case Command::Watch: {
        scanning = true;
        const InstallationWatch::Result watched = watch.run(o.repeat.value_or(0));
        status = watchStatus(watched, statistics);
        report.insert(QStringLiteral("roundCount"), watched.rounds);
        report.insert(QStringLiteral("totals"), CheckReport::statistics(statistics));
        break;
    }
    case Command::Ports:
    case Command::Find:
        break;   // handled before a session exists
    }

    if (stoppedAtOnce) {
        tell(QStringLiteral("Проверка прервана сигналом %1, порт закрыт").arg(stop.name()));
        *stoppedBy = stop.exitStatus();
        return stop.exitStatus();
    }
    if (realPort && realPort->modemLinesUnreadable())
        tell(QStringLiteral("Порт %1 не сообщает состояние линий DSR/CTS (так у псевдотерминалов и некоторых "
                            "адаптеров): они читаются как выключенные, и ошибки 1 и 2 могут говорить не о кабеле "
                            "и питании БС").arg(portName));
    if (!o.report.isEmpty()) {
        InstallationReport::Header header;
        header.made = QDateTime::currentDateTime();
        header.object = o.object.value_or(settings.reportObject);
        header.technician = o.technician.value_or(settings.reportTechnician);
        header.port = o.portDevice.isEmpty() ? QStringLiteral("COM%1").arg(state.comPort) : o.portDevice;
        header.device = port->device();
        header.baud = state.baudRate;
        header.version = QStringLiteral(LINKPROBE_VERSION);
        QString why;
        if (!InstallationReport::save(o.report, header, statistics, &why)) {
            tell(QStringLiteral("Отчёт не записан в файл %1: %2").arg(o.report, why));
            status = kNotSaved;
        }
    }
    if (o.json) {
        report.insert(QStringLiteral("void"), lost);
        report.insert(QStringLiteral("exitStatus"), status);
        if (o.repeat && o.command == Command::Scan)
            CheckReport::printOneLine(report);
        else
            CheckReport::print(report);
    }
    return closingStatus(QStringLiteral("Проверка заняла"), took.elapsed(), status);
}

} // namespace

int main(int argc, char *argv[])
{
    Cli::reserveStandardDescriptors();
    Cli::ignoreFileSizeLimitSignal();
#ifdef Q_OS_UNIX
    // A reader that went away is a failed write, told and ended like any other.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    // A PDF report needs fonts, and so Qt Gui, without a window system.
    bool pdfReport = false;
    for (int i = 1; i + 1 < argc; ++i)
        pdfReport = pdfReport || (qstrcmp(argv[i], "--report") == 0 && QByteArray(argv[i + 1]).toLower().endsWith(".pdf"));
    for (int i = 1; i < argc; ++i)
        pdfReport = pdfReport || (qstrncmp(argv[i], "--report=", 9) == 0 && QByteArray(argv[i]).toLower().endsWith(".pdf"));
    // Platforms with fonts and no window: offscreen here, Windows' own there
    // (the minimal one, which a Wine prefix may name, has no fonts to embed).
#ifdef Q_OS_WIN
    if (pdfReport)
        qputenv("QT_QPA_PLATFORM", "windows");
#else
    if (pdfReport)
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    std::unique_ptr<QCoreApplication> application = pdfReport ? std::make_unique<QGuiApplication>(argc, argv)
                                                              : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("linkprobe-check"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LINKPROBE_VERSION));
    const QString program = QStringLiteral("linkprobe-check");

    QString error;
    const std::optional<Options> options = parseArguments(QCoreApplication::arguments(), &error);
    if (!options)
        return Cli::badArguments(program, error);
    if (options->help)
        return Cli::printHelp(program, kUsage);
    std::optional<int> stoppedBy;
    const int status = run(*options, &stoppedBy);
    // A check cut short by a signal ends as the signal would have ended it.
    return stoppedBy ? *stoppedBy : status;
}
