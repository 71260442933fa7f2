// linkprobe-check: the link test, the block check and a scan of all blocks,
// without a window. The procedures are the window's own; only the panel differs:
// the lines of the message log go to standard output, everything else to
// standard error, and the verdict becomes the exit status.

#include "app/consolepanel.h"
#include "app/utf8console.h"
#include "checks/linetests.h"
#include "link/clock.h"
#include "link/openport.h"
#include "link/qtserialport.h"
#include "link/settingsstore.h"
#include "link/telstate.h"
#include "link/wait.h"
#include "sim/scenario.h"
#include "sim/simulatedinstallation.h"
#include "sim/simulatedport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QList>
#include <QRegularExpression>
#include <QStringList>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>

namespace {

// Exit statuses; 1 to 4 are the number of the link test's error.
constexpr int kEverythingAnswered = 0;
constexpr int kBlockSilent = 5;
constexpr int kPortNotOpen = 6;
constexpr int kBadArguments = 64;

constexpr int kBlockCount = 32;

const char kUsage[] =
    "Использование: linkprobe-check [--port N|УСТРОЙСТВО] [--baud СКОРОСТЬ] [--simulate[=СЦЕНАРИЙ]] [--instant]\n"
    "                               link | block N | scan\n"
    "\n"
    "Проверка связи без окна: те же проверки, что и кнопки программы linkprobe.\n"
    "Строки окна сообщений идут на стандартный вывод (UTF-8, по строке), всё прочее - в поток ошибок.\n"
    "\n"
    "Команды:\n"
    "  link       проверка связи: COM-порт, БС, БСУ (кнопка \"Запуск проверки связи\")\n"
    "  block N    проверка связи с блоком N от 1 до 32 (кнопка \"Проверка связи с блоком\");\n"
    "             номер блока сохраняется, как в окне\n"
    "  scan       проверка связи, затем опрос блоков 1-32 и итоговая строка; ничего не сохраняет\n"
    "\n"
    "Параметры (только на этот запуск, сохранённые настройки не меняются):\n"
    "  --port N              COM-порт номер N (1-255)\n"
    "  --port УСТРОЙСТВО     устройство порта, например /dev/ttyUSB0\n"
    "  --baud СКОРОСТЬ       скорость в бодах\n"
    "  --simulate[=СЦЕНАРИЙ] вместо порта - имитация установки; сценарий - слова через запятую:\n"
    "                        ok, no-cable, no-power, line-break, bsu-off, blocks=СПИСОК (например\n"
    "                        blocks=1-5,9), noise, late, unplugged\n"
    "  --instant             только с --simulate: ожидания проходят мгновенно (для пробы сценариев)\n"
    "Без --port и --baud используются сохранённые порт и скорость.\n"
    "\n"
    "Код завершения: 0 - все ответили; 1-4 - номер ошибки проверки связи; 5 - блок не ответил;\n"
    "6 - порт не открылся; 64 - неверные аргументы.\n";

void tell(const QString &text)
{
    const QByteArray line = text.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

enum class Command { Link, Block, Scan };

struct Options
{
    Command command = Command::Link;
    int block = 0;
    std::optional<qint16> portNumber;
    QString portDevice;   // set instead of portNumber when --port named a device
    std::optional<qint32> baud;
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

bool looksLikeNumber(const QString &arg)
{
    static const QRegularExpression number(QStringLiteral("^[-+][0-9]+$"));
    return number.match(arg).hasMatch();
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

std::optional<Options> parseArguments(const QStringList &args, QString *error)
{
    Options o;
    QStringList words;
    bool optionsEnded = false;
    const auto fail = [error](const QString &why) {
        *error = why;
        return std::nullopt;
    };

    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || looksLikeNumber(arg)) {
            words << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            o.help = true;
            return o;
        }
        const qsizetype eq = arg.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? arg : arg.left(eq);
        const std::optional<QString> attached = eq < 0 ? std::nullopt : std::optional<QString>(arg.mid(eq + 1));

        if (name == QLatin1String("--port") || name == QLatin1String("--baud")) {
            QString value;
            if (attached) {
                value = *attached;
            } else if (i + 1 < args.size()) {
                value = args.at(++i);
            } else {
                return fail(QStringLiteral("после %1 нужно значение").arg(name));
            }
            const bool ok = name == QLatin1String("--port") ? setPort(value, o, error) : setBaud(value, o, error);
            if (!ok)
                return std::nullopt;
        } else if (name == QLatin1String("--simulate")) {
            QString why;
            const auto scenario = Scenario::parse(attached.value_or(QStringLiteral("ok")), &why);
            if (!scenario)
                return fail(QStringLiteral("неверный сценарий: ") + why);
            o.simulate = true;
            o.scenario = *scenario;
        } else if (name == QLatin1String("--instant") && !attached) {
            o.instant = true;
        } else {
            return fail(QStringLiteral("неизвестный параметр \"%1\"").arg(arg));
        }
    }

    if (o.instant && !o.simulate)
        return fail(QStringLiteral("--instant действует только вместе с --simulate"));
    if (words.isEmpty())
        return fail(QStringLiteral("не задана команда: link, block N или scan"));

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
    } else {
        return fail(QStringLiteral("неизвестная команда \"%1\": нужна link, block N или scan").arg(command));
    }
    if (words.size() > expectedWords)
        return fail(QStringLiteral("лишние аргументы: ") + words.mid(expectedWords).join(QLatin1Char(' ')));
    return o;
}

// "Отвечают блоки: 1-5, 9 (6 из 32)": runs of consecutive blocks become ranges.
QString scanSummary(const QList<int> &answered)
{
    if (answered.isEmpty())
        return QStringLiteral("Ни один блок не отвечает");
    QStringList ranges;
    for (qsizetype i = 0; i < answered.size();) {
        qsizetype last = i;
        while (last + 1 < answered.size() && answered.at(last + 1) == answered.at(last) + 1)
            ++last;
        ranges << (last == i ? QString::number(answered.at(i))
                             : QStringLiteral("%1-%2").arg(answered.at(i)).arg(answered.at(last)));
        i = last + 1;
    }
    return QStringLiteral("Отвечают блоки: %1 (%2 из %3)")
        .arg(ranges.join(QStringLiteral(", ")))
        .arg(answered.size())
        .arg(kBlockCount);
}

int linkStatus(int verdict)
{
    return verdict == LineTests::PortNotOpen ? kPortNotOpen : verdict;
}

// Why the real port did not open, and what the technician can do about it.
void explainOpenFailure(const QtSerialPort &port, qint16 comPort)
{
    const QString device = port.deviceName();
    tell(QStringLiteral("Порт COM%1 (%2) не открылся: %3").arg(comPort).arg(device, port.openError()));
#ifndef Q_OS_WIN
    const QFileInfo file(device.startsWith(QLatin1Char('/')) ? device : QStringLiteral("/dev/") + device);
    if (!file.exists()) {
        tell(QStringLiteral("Устройства %1 нет: проверьте, подключён ли адаптер, или укажите порт через --port "
                            "(например --port /dev/ttyUSB0)").arg(file.filePath()));
    } else if (!file.isReadable() || !file.isWritable()) {
        // Serial ports are usually open to a group (dialout on Debian); never suggest joining root.
        const QString group = file.group();
        const bool groupMayUse = file.permission(QFile::ReadGroup | QFile::WriteGroup);
        if (groupMayUse && !group.isEmpty() && group != QLatin1String("root")) {
            tell(QStringLiteral("Нет прав на %1: добавьте пользователя в группу %2 (sudo usermod -aG %2 $USER) "
                                "и войдите в систему заново").arg(file.filePath(), group));
        } else {
            tell(QStringLiteral("Нет прав на %1 (владелец %2, группа %3): права на устройство даёт администратор; "
                                "обычно последовательные порты открыты группе dialout")
                     .arg(file.filePath(), file.owner(), group));
        }
    }
#endif
}

int run(const Options &o)
{
    // The user's own settings; the options of this run only shadow them.
    SettingsStore store;
    const QString comport = QStringLiteral("COMPORT");
    if (o.portNumber)
        store.overrideForRun(comport, QStringLiteral("COM"), QString::number(*o.portNumber));
    if (!o.portDevice.isEmpty()) {
        store.overrideForRun(comport, QStringLiteral("COM"), QStringLiteral("1"));
        store.overrideForRun(QStringLiteral("PORTS"), QStringLiteral("COM1"), o.portDevice);
    }
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
        auto qtPort = std::make_unique<QtSerialPort>(store);
        realPort = qtPort.get();
        port = std::move(qtPort);
    }

    TelState state;
    Stopwatch stopwatch(*clock);
    OpenPort(state, *port, store);
    // The window preselects the saved block; the block check takes the one asked for.
    ConsolePanel panel(o.command == Command::Block ? o.block - 1 : state.BlockNo - 1);
    LineTests tests(state, *port, stopwatch, store, panel);

    if (o.simulate) {
        tell(QStringLiteral("Имитация установки \"%1\", COM%2, %3 бод%4")
                 .arg(o.scenario.toString())
                 .arg(state.CurPort)
                 .arg(state.CurBaud)
                 .arg(o.instant ? QStringLiteral(", мгновенное время") : QString()));
    } else {
        tell(QStringLiteral("Порт COM%1 (%2), %3 бод")
                 .arg(state.CurPort)
                 .arg(realPort->deviceName(), QString::number(state.CurBaud)));
    }
    const bool opened = port->PortOpen();
    if (!opened) {
        if (realPort)
            explainOpenFailure(*realPort, state.CurPort);
        else if (o.scenario.unplugged)
            tell(QStringLiteral("Имитируемый порт не открылся: адаптер отключён (сценарий unplugged)"));
        else
            tell(QStringLiteral("Имитируемый порт не открылся"));
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
            lost = !port->PortOpen();
            if (!lost && tests.queryBlock(qint16(n)))
                answered << n;
        }
        if (!lost) {
            panel.AddMessage(scanSummary(answered));
            status = answered.size() == kBlockCount ? kEverythingAnswered : kBlockSilent;
        }
        break;
    }
    }

    if (opened && !port->PortOpen()) {
        tell(QStringLiteral("Порт закрылся во время проверки (адаптер отключён?): её итог недостоверен"));
        status = kPortNotOpen;
    }
    tell(QStringLiteral("Проверка заняла %1 мс, код завершения %2").arg(took.elapsed()).arg(status));
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    [[maybe_unused]] Utf8Console utf8Console;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("linkprobe-check"));

    QString error;
    const std::optional<Options> options = parseArguments(QCoreApplication::arguments().mid(1), &error);
    if (!options) {
        tell(QStringLiteral("linkprobe-check: ") + error);
        tell(QStringLiteral("Справка: linkprobe-check --help"));
        return kBadArguments;
    }
    if (options->help) {
        std::fputs(kUsage, stderr);
        return 0;
    }
    return run(*options);
}
