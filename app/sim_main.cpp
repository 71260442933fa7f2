// linkprobe-sim: the simulated installation on a real serial port, for the bench.
// A PC running linkprobe at the other end of a null-modem cable sees the БС,
// the БСУ and the blocks as the scenario has them: our DTR is its DSR (the
// cable), our RTS its CTS (the БС's power), and every query line it sends gets
// the installation's answer after the installation's latency.

#include "app/cli.h"
#include "app/stopsignals.h"
#include "link/systemports.h"
#include "sim/querylines.h"
#include "sim/scenario.h"
#include "sim/simulatedinstallation.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QSerialPort>
#ifdef Q_OS_WIN
#include "link/windowscomport.h"
#endif
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <limits>
#include <optional>

namespace {

constexpr int kPortFailed = 1;

const char kUsage[] =
    "Использование: linkprobe-sim --port УСТРОЙСТВО [--baud СКОРОСТЬ] [СЦЕНАРИЙ]\n"
    "\n"
    "Имитация установки термометрии на настоящем COM-порту, для стенда: к порту через нуль-модемный\n"
    "кабель подключается компьютер с linkprobe. Наш DTR он видит как DSR (кабель БС), наш RTS - как CTS\n"
    "(питание БС); на запросы \"#АА02\" отвечают БСУ и блоки. Каждый запрос и ответ пишется в поток ошибок.\n"
    "\n"
    "  --port УСТРОЙСТВО   порт, например /dev/ttyUSB0 или /dev/ttyS0\n"
    "  --baud СКОРОСТЬ     скорость в бодах, по умолчанию 4800 (8N1, без управления потоком)\n"
    "  СЦЕНАРИЙ            слова через запятую: ok, no-cable, no-power, line-break, bsu-off,\n"
    "                      blocks=СПИСОК (например blocks=1-5,9), flaky=СПИСОК (блоки отвечают через раз),\n"
    "                      noise, late; по умолчанию ok\n"
    "\n"
    "  -h, --help          эта справка\n"
    "\n"
    "Остановка: Ctrl+C или SIGTERM. Код завершения: 0 - остановлен; 1 - порт не открылся или потерян;\n"
    "64 - неверные аргументы.\n";

#ifdef Q_OS_WIN
// Ctrl+C in a Windows console reaches the C runtime's handler, which may only set a flag.
volatile std::sig_atomic_t g_stopSignal = 0;

void onStopSignal(int signal)
{
    g_stopSignal = signal;
}
#endif

using Cli::tell;

// Line bytes for the log: printable ASCII as it is, everything else as \xHH;
// the CR LF that ends a reply is left out.
QString shown(QByteArray bytes)
{
    if (bytes.endsWith("\r\n"))
        bytes.chop(2);
    QString text;
    for (const char c : bytes) {
        const auto b = uchar(c);
        if (b >= 0x20 && b < 0x7F && b != '\\')
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x") + QString::number(b, 16).toUpper().rightJustified(2, QLatin1Char('0'));
    }
    return text;
}

struct Options
{
    QString device;
    qint32 baud = 4800;
    Scenario scenario;
    bool help = false;
};

// The refusal, "" when the arguments make a run.
QString readArguments(const QStringList &args, Options &o)
{
    QCommandLineParser parser;
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("device"));
    const QCommandLineOption baud(QStringLiteral("baud"), QString(), QStringLiteral("baud"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({port, baud, help});
    QString error;
    if (!Cli::parse(parser, args, &error))
        return error;
    o.help = parser.isSet(help);
    if (o.help)
        return QString();
    o.device = parser.value(port);
    if (parser.isSet(port) && o.device.isEmpty())
        return QStringLiteral("пустое имя порта");
    if (parser.isSet(baud)) {
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,10}$"));
        const QString value = parser.value(baud);
        const qint64 rate = digits.match(value).hasMatch() ? value.toLongLong() : 0;
        if (rate < 1 || rate > std::numeric_limits<qint32>::max())
            return QStringLiteral("неверная скорость \"%1\": нужно целое число бод, например 4800").arg(value);
        o.baud = qint32(rate);
    }
    const QStringList words = parser.positionalArguments();
    if (words.size() > 1)
        return QStringLiteral("лишний аргумент \"%1\": сценарий - одно слово, части через запятую").arg(words.at(1));
    if (!words.isEmpty()) {
        QString why;
        const std::optional<Scenario> scenario = Scenario::parse(words.first(), &why, Scenario::Unplugged::Refused);
        if (!scenario)
            return QStringLiteral("неверный сценарий: %1").arg(why);
        o.scenario = *scenario;
    }
    if (o.device.isEmpty())
        return QStringLiteral("не указан порт (--port УСТРОЙСТВО)");
    return QString();
}

// The installation behind the port: reads query lines, answers them in time.
class Rig : public QObject
{
public:
    explicit Rig(const Options &o) : m_options(o), m_installation(o.scenario) {}

    bool open()
    {
#ifdef Q_OS_WIN
        // The port's settings carry the lines from its opening on.
        m_port.setDtr(m_installation.dsr());
        m_port.setRts(m_installation.cts());
        if (!m_port.open(m_options.device, m_options.baud)) {
            explainOpenFailure(m_port.openError());
            return false;
        }
        // The port there keeps what comes until it is read: a look every few milliseconds.
        connect(&m_poll, &QTimer::timeout, this, &Rig::readLines);
        m_poll.start(5);
        connect(&m_port, &SerialPort::lost, this, [this] { lose(QStringLiteral("устройство пропало")); });
#else
        m_port.setPortName(m_options.device);
        if (!m_port.open(QIODevice::ReadWrite)) {
            explainOpenFailure(unopenedPortExplanation(m_options.device, m_port.errorString(),
                                                       m_port.error() == QSerialPort::PermissionError));
            return false;
        }
        // The rest stays QSerialPort's own, which it sets at the opening: 8N1, no flow control.
        if (!m_port.setBaudRate(m_options.baud)) {
            tell(QStringLiteral("linkprobe-sim: порт %1 не принял настройки %2 8N1: %3")
                     .arg(m_options.device, QString::number(m_options.baud), m_port.errorString()));
            m_port.close();
            return false;
        }
        // A pseudo-terminal or a bare adapter may have no modem lines: the rig still answers.
        if (!m_port.setDataTerminalReady(m_installation.dsr()) || !m_port.setRequestToSend(m_installation.cts())) {
            tell(QStringLiteral("linkprobe-sim: линии DTR и RTS на %1 не управляются (%2): компьютер на том конце "
                                "не увидит ни DSR, ни CTS").arg(m_options.device, m_port.errorString()));
            m_port.clearError();
        }
        connect(&m_port, &QSerialPort::readyRead, this, &Rig::readLines);
        connect(&m_port, &QSerialPort::errorOccurred, this, &Rig::onError);
#endif
        tell(QStringLiteral("linkprobe-sim: %1, %2 бод 8N1, сценарий %3; DTR %4 (кабель БС), RTS %5 (питание БС). "
                            "Остановка: Ctrl+C")
                 .arg(m_options.device, QString::number(m_options.baud), m_installation.scenario().toString(),
                      onOff(m_installation.dsr()), onOff(m_installation.cts())));
        return true;
    }

    void close() { m_port.close(); }

private:
    static QString onOff(bool on) { return on ? QStringLiteral("вкл") : QStringLiteral("выкл"); }

    // The reason, then the hints, a line each.
    void explainOpenFailure(const QString &why)
    {
        tell(QStringLiteral("linkprobe-sim: порт %1 не открылся: %2").arg(m_options.device, why));
    }

    // Each query line gets the installation's sends, each after its delay.
    void readLines()
    {
        for (const QByteArray &line : m_queries.take(m_port.readAll())) {
            tell(QStringLiteral("<- ") + shown(line));
            const QList<SimulatedInstallation::Send> sends = m_installation.respond(line);
            if (std::none_of(sends.begin(), sends.end(), [](const auto &send) { return !send.noise; }))
                tell(QStringLiteral("   (нет ответа)"));
            for (const SimulatedInstallation::Send &send : sends) {
                QTimer::singleShot(int(send.afterMs), this, [this, send] {
                    if (!m_port.isOpen())
                        return;
                    m_port.write(send.bytes);
                    tell(QStringLiteral("-> ") + shown(send.bytes)
                         + (send.noise ? QStringLiteral(" (помехи)") : QString()));
                });
            }
        }
    }

#ifndef Q_OS_WIN
    // Close on the first error: a vanished adapter would otherwise report one error after another.
    // The port's error text may still be that of an earlier, cleared error
    // (a stale system error after a read of nothing): say what this one is.
    void onError(QSerialPort::SerialPortError error)
    {
        switch (error) {
        case QSerialPort::NoError:
        case QSerialPort::UnsupportedOperationError:
        case QSerialPort::TimeoutError:
            m_port.clearError();
            return;
        case QSerialPort::ResourceError: return lose(QStringLiteral("устройство пропало"));
        case QSerialPort::ReadError: return lose(QStringLiteral("ошибка чтения"));
        case QSerialPort::WriteError: return lose(QStringLiteral("ошибка записи"));
        case QSerialPort::PermissionError: return lose(QStringLiteral("нет доступа к устройству"));
        default: return lose(QStringLiteral("ошибка порта (код %1)").arg(int(error)));
        }
    }
#endif

    void lose(const QString &reason)
    {
        tell(QStringLiteral("linkprobe-sim: порт %1 потерян (адаптер отключён?): %2").arg(m_options.device, reason));
        m_port.close();
        QCoreApplication::exit(kPortFailed);
    }

    const Options m_options;
    SimulatedInstallation m_installation;
#ifdef Q_OS_WIN
    WindowsComPort m_port;   // Qt's own hangs under Wine: see windowscomport.h
    QTimer m_poll;
#else
    QSerialPort m_port;
#endif
    QueryLines m_queries;
};

} // namespace

int main(int argc, char *argv[])
{
    Cli::beginProgram();
    QCoreApplication app(argc, argv);
    Options options;
    if (const QString error = readArguments(QCoreApplication::arguments(), options); !error.isEmpty())
        return Cli::badArguments(QStringLiteral("linkprobe-sim"), error);
    if (options.help)
        return Cli::printHelp(QStringLiteral("linkprobe-sim"), kUsage);

    Rig rig(options);
    const auto stop = [&rig](int signal) {
        rig.close();
        tell(QStringLiteral("linkprobe-sim: остановлен (сигнал %1), порт закрыт").arg(signal));
        QCoreApplication::exit(0);
    };
#ifdef Q_OS_WIN
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    QTimer stopWatch;
    QObject::connect(&stopWatch, &QTimer::timeout, &app, [&stop] {
        if (g_stopSignal)
            stop(int(g_stopSignal));
    });
    stopWatch.start(50);
#else
    // SIGINT, SIGTERM and SIGHUP come through the event loop, which sleeps until one does.
    StopSignals stopSignals(stop);
#endif
    if (!rig.open())
        return kPortFailed;
    return app.exec();
}
