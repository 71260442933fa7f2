#include "checks/installationsearch.h"

#include "checks/linetests.h"
#include "checks/operatorpanel.h"
#include "link/settings.h"
#include "link/portlist.h"
#include "link/serialport.h"
#include "link/settingsstore.h"
#include "link/wait.h"


#include <algorithm>

namespace {

QString rateList(const QList<qint32> &rates)
{
    QStringList texts;
    for (qint32 rate : rates)
        texts << QString::number(rate);
    return texts.join(QStringLiteral(", "));
}

} // namespace

using Outcome = SearchCandidate::Outcome;

const SearchCandidate *SearchResult::installation() const
{
    const auto found = std::find_if(candidates.cbegin(), candidates.cend(), [](const SearchCandidate &candidate) {
        return candidate.outcome == Outcome::Found;
    });
    return found == candidates.cend() ? nullptr : &*found;
}

QString candidateLine(const SearchCandidate &c)
{
    const QString &d = c.device;
    switch (c.outcome) {
    case Outcome::NotTried: return d + QStringLiteral(": не проверялся");
    case Outcome::Found:
        return QStringLiteral("%1: БСУ отвечает на скорости %2 бод, принято = [%3]").arg(d, QString::number(c.baudRate), c.reply);
    case Outcome::Echo:
        return QStringLiteral("%1: БС подключён, на скорости %2 бод вернулся сам запрос (эхо) - БСУ не отвечает")
            .arg(d, QString::number(c.baudRate));
    case Outcome::Silent:
        return QStringLiteral("%1: БС подключён и включён, но БСУ не ответил ни на одной скорости (%2 бод)")
            .arg(d, rateList(c.ratesTried));
    case Outcome::NoCable: return d + QStringLiteral(": нет сигнала DSR - БС не подключён к этому порту");
    case Outcome::NoPower: return d + QStringLiteral(": есть DSR, нет CTS - нет питания БС");
    case Outcome::NotOpened:
        return c.reason.isEmpty() ? d + QStringLiteral(": порт не открылся")
                                  : d + QStringLiteral(": порт не открылся: ") + c.reason;
    case Outcome::Absent: return d + QStringLiteral(": устройства нет в системе");
    case Outcome::SkippedInUse: return d + QStringLiteral(": пропущен - занят: ") + c.reason;
    case Outcome::SkippedConsole: return d + QStringLiteral(": пропущен - системная консоль");
    case Outcome::PortLost:
        return d + QStringLiteral(": порт закрылся во время проверки (адаптер отключён?), итог недостоверен");
    }
    return d;
}

// The search's closing line.
static QString searchResultLine(const SearchResult &result)
{
    if (const SearchCandidate *found = result.installation())
        return QStringLiteral("Установка найдена: %1, %2 бод").arg(found->device, QString::number(found->baudRate));
    if (result.candidates.isEmpty())
        return QStringLiteral("Установка не найдена: нет портов для поиска");
    return QStringLiteral("Установка не найдена");
}

QList<SearchCandidate> searchCandidates(const Settings &settings, const QList<DetectedPort> &detected,
                                        const QStringList &consoles)
{
    QList<SearchCandidate> candidates;
    QList<PortListing> ports = listPorts(settings, detected);
    markConsoles(ports, consoles);
    for (const PortListing &port : ports) {
        SearchCandidate candidate;
        candidate.device = port.device;
        if (port.console) {
            candidate.outcome = Outcome::SkippedConsole;
        } else if (port.state == PortListing::State::InUse) {
            candidate.outcome = Outcome::SkippedInUse;
            candidate.reason = port.holder;
        } else if (port.state == PortListing::State::Absent) {
            candidate.outcome = Outcome::Absent;
        }
        candidates << candidate;
    }
    return candidates;
}

InstallationSearch::InstallationSearch(SerialPort &port, Stopwatch &wait, OperatorPanel &panel)
    : m_port(port), m_wait(wait), m_panel(panel)
{
}

SearchResult InstallationSearch::run(QList<SearchCandidate> candidates, qint32 savedRate)
{
    SearchResult result;
    for (SearchCandidate &candidate : candidates) {
        // The window is closing: nothing more is opened.
        if (m_wait.abandoned())
            break;
        if (candidate.outcome == Outcome::NotTried)
            probe(candidate, savedRate);
        m_port.close();
        if (candidate.outcome != Outcome::NotTried) {
            m_panel.addMessage(candidateLine(candidate));
            result.candidates << candidate;
        }
        if (candidate.outcome == Outcome::Found)
            break;
    }
    m_panel.addMessage(searchResultLine(result));
    return result;
}

void InstallationSearch::probe(SearchCandidate &candidate, qint32 savedRate)
{
    QList<qint32> rates = Settings::kBaudRates;
    rates.removeAll(savedRate);
    rates.prepend(savedRate);
    if (!m_port.open(candidate.device, savedRate)) {
        candidate.outcome = Outcome::NotOpened;
        candidate.reason = m_port.openError().replace(QLatin1Char('\n'), QStringLiteral("; "));
        // A port may refuse only the rate (a built-in one, above 115200): it opens at the next.
        if (!m_port.open(candidate.device, rates.at(1)))
            return;
        tellRefused(candidate, rates.takeFirst());
        candidate.reason.clear();
    }
    m_port.setDtr(true);
    m_port.setRts(false);
    m_wait.wait(1000);
    if (m_wait.abandoned())
        return;
    // Lines that read as off on a port that went away say nothing of the cable or the БС.
    const bool dsr = m_port.dsr();
    const bool cts = dsr && m_port.cts();
    candidate.outcome = !m_port.isOpen() ? Outcome::PortLost
                        : !dsr           ? Outcome::NoCable
                        : !cts           ? Outcome::NoPower
                                         : Outcome::Silent;
    if (candidate.outcome == Outcome::Silent)
        queryAtRates(candidate, rates);
}

void InstallationSearch::tellRefused(const SearchCandidate &candidate, qint32 rate)
{
    m_panel.addMessage(QStringLiteral("%1: скорость %2 бод не поддерживается портом").arg(candidate.device, QString::number(rate)));
}

void InstallationSearch::queryAtRates(SearchCandidate &candidate, const QList<qint32> &rates)
{
    for (qint32 rate : rates) {
        if (m_wait.abandoned())
            return;
        // The rate changes on the open port: DTR stays on and RTS off between rates.
        if (m_port.baudRate() != rate && !m_port.setBaudRate(rate)) {
            if (!m_port.isOpen()) {
                candidate.outcome = Outcome::Absent;
                return;
            }
            tellRefused(candidate, rate);
            continue;
        }
        candidate.ratesTried << rate;
        const QString reply = cutAtFirstCr(sendCommand(m_port, m_wait, LineTests::kBsuQuery, 500, ReplyEnd::AtFirstCr));
        if (!m_port.isOpen()) {
            candidate.outcome = Outcome::PortLost;
            return;
        }
        // As in the link test: an echo is the БС passing the query back, whatever follows it.
        if (reply.contains(LineTests::kBsuQuery)) {
            candidate.outcome = Outcome::Echo;
        } else if (reply.contains(LineTests::kBsuIdentity)) {
            candidate.outcome = Outcome::Found;
        } else {
            continue;
        }
        candidate.baudRate = rate;
        candidate.reply = reply;
        return;
    }
}

SavedInstallation saveFoundInstallation(SettingsStore &store, const SearchCandidate &found,
                                        const QList<DetectedPort> &detected, const QString &stableDir)
{
    const QString device = resolvedDevice(found.device);
    const QString stable = stablePortPath(device, stableDir);
    SavedInstallation result;
    result.saved = store.saveChosen([&](const SettingsStore &now) {
        QList<SettingsStore::Change> changes;
        const Settings settings = Settings::load(now);
        result = SavedInstallation();
        for (qint16 n = 1; n <= Settings::kHighestComPort && result.comPort == 0; ++n) {
            if (resolvedDevice(settings.deviceFor(n)) == device)
                result.comPort = n;
        }
        for (qint16 n = 1; n <= 8 && result.comPort == 0; ++n) {
            const QString own = resolvedDevice(settings.deviceFor(n));
            const bool hasOwnDevice = std::any_of(detected.cbegin(), detected.cend(), [&](const DetectedPort &p) {
                return resolvedDevice(p.device) == own;
            });
            if (settings.portDevices.contains(n) || hasOwnDevice)
                continue;
            result.comPort = n;
            changes << Settings::portDeviceChange(n, stable.isEmpty() ? found.device : stable);
        }
        if (result.comPort == 0)
            return changes;
        result.device = changes.isEmpty() ? settings.deviceFor(result.comPort) : changes.constFirst().text;
        changes << Settings::change(Settings::Key::ComPort, QString::number(result.comPort))
                << Settings::change(Settings::Key::BaudRate, QString::number(found.baudRate));
        return changes;
    }) && result.comPort != 0;
    return result;
}
