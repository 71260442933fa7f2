#pragma once

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <functional>

// The per-user store of text values addressed by section and key: an INI
// file as QSettings writes it, read and written here. The program never
// deletes a value. Keys it does not know (anything a technician adds) are
// written back as they were read; comments are not.
//
// The file is only a convenience: a store that cannot read it gives the
// defaults, one that cannot save leaves it exactly as it was and holds the
// value for the run, and either tells why through the problem handler. Only
// a regular file of at most 1 MiB is ever opened; a save writes a new file
// beside it and renames it over, under the lock QSettings itself takes, so
// that saves of many processes at once lose nothing.
class SettingsStore
{
public:
    // The user's own store: LINKPROBE.ini in the user's configuration folder
    // (~/.config, or %APPDATA% on Windows).
    SettingsStore();
    // A store kept in the given file; "" keeps values for this run only.
    explicit SettingsStore(const QString &iniFile);

    // The store's file in the given folder, named as in the user's own.
    static QString fileIn(const QString &folder);

    QString read(const QString &app, const QString &section, const QString &key,
                 const QString &def) const;
    // Every value by "SECTION/key", read from the file at one go.
    QMap<QString, QString> values() const;
    // false when the value could not be saved (the problem handler has been
    // told why); read() then gives it for the rest of the run, and the next
    // save of the key tries the file again.
    bool save(const QString &app, const QString &section, const QString &key,
              const QString &text);

    // One value of a step saved together.
    struct Change
    {
        QString section;
        QString key;
        QString text;
    };
    // Reads and saves as one step: from the reading to the writing no other
    // process saves the file. choose() gets the values as they stand (a
    // store of this run only, holding the file's values and this run's own)
    // and returns the ones to save. false, as save() gives it, when they could
    // not be saved; then none of them is in the file.
    bool saveChosen(const std::function<QList<Change>(const SettingsStore &now)> &choose);

    QString fileName() const;

    // Receives one sentence in Russian, naming the file and the reason, for
    // every save that fails and every time the file turns unreadable.
    void setProblemHandler(std::function<void(const QString &)> handler);

private:
    QString m_file;
    QHash<QString, QString> m_held;   // this run's values: kept in memory, or not saved
    std::function<void(const QString &)> m_tellProblem;
    mutable QString m_readProblem;    // told once until the file can be read again
};

// The application name under which every value is kept.
inline const QString kApp = QStringLiteral("LINKPROBE");
