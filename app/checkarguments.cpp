#include "app/checkarguments.h"

#include "app/cli.h"
#include "report/installationreport.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <limits>

namespace {

const char kUsageHead[] =
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
    "Строки окна сообщений идут на стандартный вывод (UTF-8, по строке), всё прочее - в поток ошибок.\n";

const char kUsageTail[] =
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

constexpr int kBlockCount = 32;

// The options only some commands take, in the order they are checked, each
// with what it says to a command that does not take it.
const struct {
    int option;
    const char *refusal;
} kRestrictedOptions[] = {
    {kSaveOption, "--save действует только с командой find"},
    {kFastOption, "--fast действует только с командами link и block (scan и так ждёт до конца строки)"},
    {kFullWaitsOption, "--full-waits действует только с командой scan"},
    {kRepeatOption, "--repeat действует только с командами scan и watch"},
    {kReportOption, "--report, --object и --technician действуют только с командами scan и watch"},
    {kSimulateOption, "--simulate не действует с командами ports и find: они смотрят настоящие порты"},
};

bool isDecimal(const QString &text)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    return digits.match(text).hasMatch();
}

// A whole decimal number within [low, high], nothing else.
std::optional<qint64> decimalIn(const QString &text, qint64 low, qint64 high)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    if (!isDecimal(text) || !ok || value < low || value > high)
        return std::nullopt;
    return value;
}

// The refusal, "" when the value names a port.
QString setPort(const QString &value, NamedPort &port)
{
    static const QRegularExpression comName(QStringLiteral("^COM([0-9]+)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch com = comName.match(value);
    const QString number = com.hasMatch() ? com.captured(1) : value;
    if (const auto n = decimalIn(number, 1, 255)) {
        port = {qint16(*n), QString()};
        return QString();
    }
#ifndef Q_OS_WIN
    // Elsewhere ports are device files; whether this one exists shows when it is opened.
    if (!isDecimal(number) && value.contains(QLatin1Char('/'))) {
        port = {std::nullopt, value};
        return QString();
    }
    return QStringLiteral("неверный порт \"%1\": нужен номер COM-порта от 1 до 255 или путь к устройству, "
                          "например /dev/ttyUSB0").arg(value);
#else
    return QStringLiteral("неверный порт \"%1\": нужен номер COM-порта от 1 до 255").arg(value);
#endif
}

// "link, block N, scan, watch, ports или find"
QString commandList(const QList<CheckCommand> &commands)
{
    QStringList words;
    for (const CheckCommand &command : commands)
        words << QLatin1String(command.word) + (command.takesBlock ? QStringLiteral(" N") : QString());
    const QString last = words.takeLast();
    return words.join(QStringLiteral(", ")) + QStringLiteral(" или ") + last;
}

// The options, each valued one with its last value; the refusal, "" when they make a run.
QString takeValues(const QCommandLineParser &parser, CheckOptions &o)
{
    const auto isSet = [&parser](const char *name) { return parser.isSet(QLatin1String(name)); };
    const auto last = [&parser](const char *name) { return parser.value(QLatin1String(name)); };
    if (const QString refusal = isSet("port") ? setPort(last("port"), o.port) : QString(); !refusal.isEmpty())
        return refusal;
    if (isSet("baud")) {
        const auto baud = decimalIn(last("baud"), 1, std::numeric_limits<qint32>::max());
        if (!baud)
            return QStringLiteral("неверная скорость \"%1\": нужно целое число бод, например 4800 или 115200")
                .arg(last("baud"));
        o.baud = qint32(*baud);
    }
    if (isSet("simulate")) {
        QString why;
        const auto scenario = Scenario::parse(last("simulate"), &why);
        if (!scenario)
            return QStringLiteral("неверный сценарий: ") + why;
        o.simulate = true;
        o.scenario = *scenario;
    }
    if (isSet("repeat")) {
        const auto rounds = decimalIn(last("repeat"), 0, std::numeric_limits<int>::max());
        if (!rounds)
            return QStringLiteral("неверное число кругов \"%1\": нужно целое число от 0 (до Ctrl+C)")
                .arg(last("repeat"));
        o.repeat = int(*rounds);
    }
    o.report = isSet("report") ? last("report") : QString();
    if (isSet("report") && InstallationReport::formatFor(o.report) == InstallationReport::Format::Unknown)
        return QStringLiteral("неверный файл отчёта \"%1\": нужно окончание .pdf или .csv").arg(o.report);
    if (isSet("object"))
        o.object = last("object");
    if (isSet("technician"))
        o.technician = last("technician");
    o.instant = isSet("instant");
    o.save = isSet("save");
    o.fast = isSet("fast");
    o.fullWaits = isSet("full-waits");
    o.json = isSet("json");
    if (o.instant && !o.simulate)
        return QStringLiteral("--instant действует только вместе с --simulate");
    return QString();
}

// The command and its arguments from the words; then whether it takes the
// options given. The refusal, "" when it does.
QString takeCommand(const QCommandLineParser &parser, const QList<CheckCommand> &commands, CheckOptions &o)
{
    const QStringList words = parser.positionalArguments();
    if (words.isEmpty())
        return QStringLiteral("не задана команда: ") + commandList(commands);
    for (const CheckCommand &command : commands)
        if (words.first() == QLatin1String(command.word))
            o.command = &command;
    if (!o.command)
        return QStringLiteral("неизвестная команда \"%1\": нужна %2").arg(words.first(), commandList(commands));
    if (o.command->takesBlock && words.size() < 2)
        return QStringLiteral("после block нужен номер блока от 1 до 32");
    if (o.command->takesBlock) {
        const auto n = decimalIn(words.at(1), 1, kBlockCount);
        if (!n)
            return QStringLiteral("неверный номер блока \"%1\": нужно число от 1 до 32").arg(words.at(1));
        o.block = int(*n);
    }
    // Every --port counts here: each names one port.
    for (const QString &value : o.command->takesManyPorts ? parser.values(QStringLiteral("port")) : QStringList()) {
        if (const QString refusal = setPort(value, o.ports.emplaceBack()); !refusal.isEmpty())
            return refusal;
    }
    const int given = (o.save ? kSaveOption : 0) | (o.fast ? kFastOption : 0) | (o.fullWaits ? kFullWaitsOption : 0)
                      | (o.repeat ? kRepeatOption : 0) | (o.simulate ? kSimulateOption : 0)
                      | (!o.report.isEmpty() || o.object || o.technician ? kReportOption : 0);
    for (const auto &restricted : kRestrictedOptions)
        if ((given & restricted.option) && !(o.command->options & restricted.option))
            return QString::fromUtf8(restricted.refusal);
    const int expectedWords = o.command->takesBlock ? 2 : 1;
    if (words.size() > expectedWords)
        return QStringLiteral("лишние аргументы: ") + words.mid(expectedWords).join(QLatin1Char(' '));
    return QString();
}

} // namespace

std::optional<CheckOptions> parseCheckArguments(const QStringList &args, const QList<CheckCommand> &commands,
                                                QString *error)
{
    QCommandLineParser parser;
    for (const char *name : {"port", "baud", "simulate", "repeat", "report", "object", "technician"})
        parser.addOption(QCommandLineOption(QLatin1String(name), QString(), QStringLiteral("value")));
    for (const char *name : {"instant", "save", "fast", "full-waits", "json"})
        parser.addOption(QCommandLineOption(QLatin1String(name)));
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}));
    QStringList words;
    for (const CheckCommand &command : commands)
        words << QLatin1String(command.word);
    CheckOptions o;
    if (!Cli::parse(parser, Cli::joinSimulateValue(args, words), error))
        return std::nullopt;
    o.help = parser.isSet(QStringLiteral("help"));
    if (o.help)
        return o;
    *error = takeValues(parser, o);
    if (error->isEmpty())
        *error = takeCommand(parser, commands, o);
    if (!error->isEmpty())
        return std::nullopt;
    return o;
}

QByteArray checkUsage(const QList<CheckCommand> &commands)
{
    QByteArray usage = QByteArray(kUsageHead) + "\nКоманды:\n";
    for (const CheckCommand &command : commands)
        usage += command.help;
    return usage + kUsageTail;
}
