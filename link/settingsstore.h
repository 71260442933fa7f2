#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <functional>

// The application name under which every value is kept.
inline const QString kApp = QStringLiteral("LINKPROBE");

// The per-user store of text values by section and key: an INI file as
// QSettings writes it, unknown keys kept, comments not. A store that cannot read
// it gives the defaults, one that cannot save leaves it exactly as it was and
// holds the value for the run, and either tells why. Only a regular file of at
// most 1 MiB is ever opened, and many processes saving at once lose nothing.
class SettingsStore
{
public:
    SettingsStore();   // the user's own: LINKPROBE.ini in ~/.config, or in %APPDATA%
    // A store kept in the given file; "" keeps values for this run only.
    explicit SettingsStore(const QString &iniFile) : m_file(iniFile) {}

    // The store's file in the given folder, named as in the user's own.
    static QString fileIn(const QString &folder) { return folder + QLatin1Char('/') + kApp + QStringLiteral(".ini"); }
    QString fileName() const { return m_file; }

    // Every value by "SECTION/key", read from the file at one go.
    QMap<QString, QString> values() const;

    struct Change
    {
        QString section;
        QString key;
        QString text;
    };
    // false when the value could not be saved.
    bool save(const Change &change)
    {
        return saveChosen([&change](const SettingsStore &) { return QList<Change>{change}; });
    }
    using Chooser = std::function<QList<Change>(const SettingsStore &now)>;
    // Reads and saves as one step: no other process saves the file in between.
    // choose() gets the values as they stand and returns the ones to save;
    // false when they could not be saved, and then none is in the file.
    bool saveChosen(const Chooser &choose);

    // Told, in one Russian sentence naming the file and the reason, of every
    // save that fails and every time the file turns unreadable.
    void setProblemHandler(std::function<void(const QString &)> handler) { m_tellProblem = std::move(handler); }

private:
    QString saveToFile(const Chooser &choose, QList<Change> *changes);

    QString m_file;
    QMap<QString, QString> m_held;   // this run's values: kept in memory, or not saved
    std::function<void(const QString &)> m_tellProblem;
    mutable QString m_readProblem;   // told once until the file can be read again
};
