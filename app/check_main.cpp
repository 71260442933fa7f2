// linkprobe-check: the link test, the block check and a scan of all blocks,
// without a window. The procedures are the window's own; only the panel differs:
// the lines of the message log go to standard output, everything else to
// standard error, and the verdict becomes the exit status.

#include "app/cli.h"
#include "app/consolepanel.h"
#include "app/stopsignals.h"
#include "app/utf8console.h"
#include "checks/checksession.h"
#include "checks/installationsearch.h"
#include "link/blockranges.h"
#include "link/clock.h"
#include "link/openport.h"
#include "link/portlist.h"
#include "link/qtserialport.h"
#include "link/settingsstore.h"
#include "sim/scenario.h"
#include "sim/simulatedinstallation.h"
#include "sim/simulatedport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
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

constexpr int kBlockCount = 32;

const char kUsage[] =
    "Использование: linkprobe-check [--port N|УСТРОЙСТВО] [--baud СКОРОСТЬ] [--simulate[=СЦЕНАРИЙ]] [--instant]\n"
    "                               link | block N | scan\n"
    "       linkprobe-check ports\n"
    "       linkprobe-check [--port УСТРОЙСТВО]... [--baud СКОРОСТЬ] [--save] find\n"
    "\n"
    "Проверка связи без окна: те же проверки, что и кнопки программы linkprobe.\n"
    "Строки окна сообщений идут на стандартный вывод (UTF-8, по строке), всё прочее - в поток ошибок.\n"
    "\n"
    "Команды:\n"
    "  link       проверка связи: COM-порт, БС, БСУ (кнопка \"Запуск проверки связи\")\n"
    "  block N    проверка связи с блоком N от 1 до 32 (кнопка \"Проверка связи с блоком\");\n"
    "             номер блока сохраняется, как в окне\n"
    "  scan       проверка связи, затем опрос блоков 1-32 и итоговая строка; ничего не сохраняет\n"
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
    "  --simulate[=СЦЕНАРИЙ] вместо порта - имитация установки (можно и --simulate СЦЕНАРИЙ); сценарий -\n"
    "                        слова через запятую: ok, no-cable, no-power, line-break, bsu-off,\n"
    "                        blocks=СПИСОК (например blocks=1-5,9), noise, late, unplugged; по умолчанию ok\n"
    "  --instant             только с --simulate: ожидания проходят мгновенно (для пробы сценариев)\n"
    "  -h, --help            эта справка\n"
    "Без --port и --baud используются сохранённые порт и скорость.\n"
    "\n"
    "Код завершения: 0 - все ответили; 1-4 - номер ошибки проверки связи; 5 - блок не ответил;\n"
    "6 - порт не открылся; 7 - установка не найдена (find); 64 - неверные аргументы;\n"
    "74 - не удалось записать на стандартный вывод; 129, 130, 143 - прервано сигналом SIGHUP, SIGINT\n"
    "(Ctrl+C), SIGTERM: порт закрыт, его настройки возвращены.\n";

using Cli::tell;

enum class Command { Link, Block, Scan, Ports, Find };

struct Options
{
    Command command = Command::Link;
    int block = 0;
    std::optional<qint16> portNumber;
    QString portDevice;   // set instead of portNumber when --port named a device
    std::optional<qint32> baud;
    QStringList findPorts;   // find: the candidates named, as given
    bool save = false;
    bool simulate = false;
    Scenario scenario;
    bool instant = false;
    bool help = false;
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
                                   QStringLiteral("ports"), QStringLiteral("find")};

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
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({port, baud, simulate, instant, save, help});
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
    const QStringList words = parser.positionalArguments();

    if (o.instant && !o.simulate)
        return fail(QStringLiteral("--instant действует только вместе с --simulate"));
    if (words.isEmpty())
        return fail(QStringLiteral("не задана команда: link, block N, scan, ports или find"));

    const QString &command = words.first();
    int expectedWords = 1;
    if (command == QLatin1String("link")) {
        o.command = Command::Link;
    } else if (command == QLatin1String("scan")) {
        o.command = Command::Scan;
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
        return fail(QStringLiteral("неизвестная команда \"%1\": нужна link, block N, scan, ports или find").arg(command));
    }
    if (o.save && o.command != Command::Find)
        return fail(QStringLiteral("--save действует только с командой find"));
    if (o.simulate && (o.command == Command::Ports || o.command == Command::Find))
        return fail(QStringLiteral("--simulate не действует с командами ports и find: они смотрят настоящие порты"));
    if (words.size() > expectedWords)
        return fail(QStringLiteral("лишние аргументы: ") + words.mid(expectedWords).join(QLatin1Char(' ')));
    return o;
}

// "Отвечают блоки: 1-5, 9 (6 из 32)": runs of consecutive blocks become ranges.
QString scanSummary(const QList<int> &answered)
{
    if (answered.isEmpty())
        return QStringLiteral("Ни один блок не отвечает");
    return QStringLiteral("Отвечают блоки: %1 (%2 из %3)")
        .arg(blockRanges(answered, QStringLiteral(", ")))
        .arg(answered.size())
        .arg(kBlockCount);
}

int linkStatus(int verdict)
{
    return verdict == LineTests::PortNotOpen ? kPortNotOpen : verdict;
}

// The user's own settings. Whatever stands in the way of reading or saving
// the file is told on standard error; the verdict stays the verdict.
SettingsStore userSettings()
{
    SettingsStore store;
    store.setProblemHandler(tell);
    return store;
}

int listPortsCommand()
{
    const SettingsStore store = userSettings();
    const QList<PortListing> ports = listPorts(store, detectedPorts());
    ConsolePanel panel;
    for (const PortListing &port : ports)
        panel.addMessage(portListingLine(port));
    if (ports.isEmpty())
        tell(QStringLiteral("Последовательных портов в системе нет, и в [PORTS] ничего не записано"));
    return kEverythingAnswered;
}

int findCommand(const Options &o, std::optional<int> *stoppedBy)
{
    SettingsStore store = userSettings();
    int problemsTold = 0;
    store.setProblemHandler([&problemsTold](const QString &text) {
        tell(text);
        ++problemsTold;
    });
    const qint32 firstRate = o.baud.value_or(readSavedPortSettings(store).baudRate);
    const QList<DetectedPort> detected = detectedPorts();
    QList<SearchCandidate> candidates;
    if (o.findPorts.isEmpty()) {
        candidates = searchCandidates(store, detected);
    } else {
        for (const QString &named : o.findPorts) {
            SearchCandidate candidate;
            candidate.device = isDecimal(named) ? deviceForComPort(store, qint16(named.toInt())) : named;
            candidates << candidate;
        }
    }

    SteadyClock clock;
    Stopwatch wait(clock);
    QtSerialPort port;
    ConsolePanel panel;
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
    const int status = found ? kEverythingAnswered : kInstallationNotFound;
    if (found && o.save) {
        const int toldBefore = problemsTold;
        if (const qint16 com = saveFoundInstallation(store, *found, detected)) {
            // A save that failed has been told, with its reason.
            if (problemsTold == toldBefore)
                tell(QStringLiteral("Сохранено: COM%1 (%2), %3 бод")
                         .arg(com).arg(deviceForComPort(store, com)).arg(found->baudRate));
        } else {
            tell(QStringLiteral("Не сохранено: у каждого из COM1-COM8 есть своё устройство или запись в [PORTS]; "
                                "назначьте устройство в окне (Настройки - Устройства COM-портов)"));
        }
    }
    tell(QStringLiteral("Поиск занял %1 мс, код завершения %2").arg(took.elapsed()).arg(status));
    return status;
}

int run(const Options &o, std::optional<int> *stoppedBy)
{
    if (o.command == Command::Ports)
        return listPortsCommand();
    if (o.command == Command::Find)
        return findCommand(o, stoppedBy);

    // The user's own settings; the options of this run only shadow them.
    SettingsStore store = userSettings();
    const QString comport = QStringLiteral("COMPORT");
    if (o.portNumber)
        store.overrideForRun(comport, QStringLiteral("COM"), QString::number(*o.portNumber));
    if (o.baud)
        store.overrideForRun(comport, QStringLiteral("BAUD"), QString::number(*o.baud));

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

    // The window preselects the saved block; the block check takes the one asked for.
    ConsolePanel panel;
    CheckSession session(*port, store, *clock, panel);
    // Stopped, the check runs out at once (every wait abandoned) without its port.
    const StopSignals stop([&](int) {
        panel.silence();
        session.stopwatch().abandon();
        port->close();
    });
    const bool opened = session.openPort(o.portDevice);
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

    QElapsedTimer took;
    took.start();
    int status = kEverythingAnswered;
    switch (o.command) {
    case Command::Link:
        tests.linkTest();
        status = linkStatus(tests.lastLinkVerdict());
        break;
    case Command::Block:
        tests.blockCheck();
        if (!opened)
            status = kPortNotOpen;
        else if (tests.lastLinkVerdict() != LineTests::LinkGood)
            status = linkStatus(tests.lastLinkVerdict());
        else
            status = tests.lastBlockAnswered() ? kEverythingAnswered : kBlockSilent;
        break;
    case Command::Scan: {
        tests.linkTest();
        if (tests.lastLinkVerdict() != LineTests::LinkGood) {
            status = linkStatus(tests.lastLinkVerdict());
            break;
        }
        QList<int> answered;
        bool lost = false;
        for (int n = 1; n <= kBlockCount && !lost; ++n) {
            // An adapter pulled mid-scan would make every later block look silent.
            lost = !port->isOpen();
            if (!lost && tests.queryBlock(qint16(n)))
                answered << n;
        }
        if (!lost) {
            panel.addMessage(scanSummary(answered));
            status = answered.size() == kBlockCount ? kEverythingAnswered : kBlockSilent;
        }
        break;
    }
    case Command::Ports:
    case Command::Find:
        break;   // handled before a session exists
    }

    if (stop.caught()) {
        tell(QStringLiteral("Проверка прервана сигналом %1, порт закрыт").arg(stop.name()));
        *stoppedBy = stop.exitStatus();
        return stop.exitStatus();
    }
    if (opened && !port->isOpen()) {
        tell(QStringLiteral("Порт закрылся во время проверки (адаптер отключён?): её итог недостоверен"));
        status = kPortNotOpen;
    }
    if (realPort && realPort->modemLinesUnreadable())
        tell(QStringLiteral("Порт %1 не сообщает состояние линий DSR/CTS (так у псевдотерминалов и некоторых "
                            "адаптеров): они читаются как выключенные, и ошибки 1 и 2 могут говорить не о кабеле "
                            "и питании БС").arg(portName));
    tell(QStringLiteral("Проверка заняла %1 мс, код завершения %2").arg(took.elapsed()).arg(status));
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    Cli::reserveStandardDescriptors();
#ifdef Q_OS_UNIX
    // A reader that went away is a failed write, told and ended like any other.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    [[maybe_unused]] Utf8Console utf8Console;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("linkprobe-check"));
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
    return stoppedBy ? *stoppedBy : Cli::exitStatus(program, status);
}
