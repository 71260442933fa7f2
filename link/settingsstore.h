#pragma once

#include <QHash>
#include <QString>

// The per-user store of text values addressed by application, section and key.
// The program never deletes a value. The store is an INI file that people may
// edit by hand: saving a value rewrites only the line of that key (or adds
// one), and every other byte of the file stays as it was.
class SettingsStore
{
public:
    // The user's own store: one file under the user's configuration folder.
    SettingsStore();
    // A store kept in the given file (tests, and anyone who wants a private one).
    explicit SettingsStore(const QString &iniFile);

    QString read(const QString &app, const QString &section, const QString &key,
                 const QString &def) const;
    void save(const QString &app, const QString &section, const QString &key,
              const QString &text);

    // A value for this run only: read() gives it, save() of the same key
    // keeps it in memory, and the file is never touched for it.
    void overrideForRun(const QString &section, const QString &key, const QString &text);

    QString fileName() const;

private:
    QString m_file;
    QHash<QString, QString> m_overrides;
};

// The application name under which every value is kept.
inline const QString kApp = QStringLiteral("LINKPROBE");
