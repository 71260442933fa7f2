#pragma once

#include "link/systemports.h"

class OperatorPanel;
class SerialPort;
class SettingsStore;
struct Settings;
class Stopwatch;

// One port the search for the installation looked at, and what it found there.
struct SearchCandidate
{
    enum class Outcome {
        NotTried,         // still to probe
        Found,            // the БСУ answered: the installation is here
        Echo,             // the query came back: the БС is there, the БСУ does not answer
        Silent,           // DSR and CTS on, no answer at any rate
        NoCable,          // no DSR
        NoPower,          // DSR, no CTS
        NotOpened,        // the device refused to open (reason)
        Absent,           // a mapped device that is not there
        SkippedInUse,     // another program holds it (reason: which)
        SkippedConsole,   // the system's console: probing would write into it
        PortLost,         // the port closed under the probe (an adapter pulled): no finding
    };

    QString device;
    Outcome outcome = Outcome::NotTried;
    qint32 baudRate = 0;          // Found, Echo: the rate of the reply
    QList<qint32> ratesTried;     // in the order tried
    QString reply;                // Found, Echo: the reply up to its first CR
    QString reason;               // NotOpened, SkippedInUse: why, in words
};

struct SearchResult
{
    QList<SearchCandidate> candidates;
    // The candidate that holds the installation, nullptr when none does.
    const SearchCandidate *installation() const;
};

// The line that tells what was found on one candidate.
QString candidateLine(const SearchCandidate &candidate);

// The ports to search when the technician names none: every detected port and every mapped device,
// except those another program holds and the system's console (skipped, with their reason).
QList<SearchCandidate> searchCandidates(const Settings &settings, const QList<DetectedPort> &detected,
                                        const QStringList &consoles = consoleDevices());

// Looks for the БСУ on each candidate in turn, as the link test would find it: DTR on, RTS off, a
// second for the lines, DSR and CTS, then "#0002" at the saved rate and at each of the eight rates the
// settings dialog offers, changed on the open port; a rate the port refuses is told and passed over.
// Each candidate's line goes to the panel once known; the first answer ends the search. The port is left closed.
class InstallationSearch
{
public:
    InstallationSearch(SerialPort &port, Stopwatch &wait, OperatorPanel &panel);

    SearchResult run(QList<SearchCandidate> candidates, qint32 savedRate);

private:
    void probe(SearchCandidate &candidate, qint32 savedRate);
    // "#0002" at each rate in turn, changed on the open port, until an answer.
    void queryAtRates(SearchCandidate &candidate, const QList<qint32> &rates);
    void tellRefused(const SearchCandidate &candidate, qint32 rate);

    SerialPort &m_port;
    Stopwatch &m_wait;
    OperatorPanel &m_panel;
};

// What saving a found installation did.
struct SavedInstallation
{
    qint16 comPort = 0;   // the COM number it is saved under; 0 when none was free (nothing saved)
    QString device;       // what that COM number leads to, as saved
    bool saved = false;   // false also when the settings file refused it (the store has told why)
};

// Saves the found port and rate as the ones to use: the COM number that already leads to that device,
// else the first of COM1 to COM8 that has neither a mapping nor a device of its own, mapped to the
// device (its by-id name where it has one). The choice is made and written in one step of the store,
// so two processes saving at once never take the same COM number.
SavedInstallation saveFoundInstallation(SettingsStore &store, const SearchCandidate &found,
                                        const QList<DetectedPort> &detected,
                                        const QString &stableDir = kStablePortDir);
