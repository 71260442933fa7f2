#include "link/settingsstore.h"

#include "link/settingsfile.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <optional>

namespace {

QString keyPath(const QString &section, const QString &key)
{
    return section + QLatin1Char('/') + key;
}

// Where QSettings keeps the user's INI file for the application, found
// without letting QSettings read it.
QString userFolder()
{
#ifdef Q_OS_WIN
    const QString appData = qEnvironmentVariable("APPDATA");
    if (!appData.isEmpty())
        return QDir::fromNativeSeparators(appData);
#endif
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

// QSettings reads the file as UTF-8 and would write any other text back (a
// value typed in Windows-1251) as replacement characters.
QString textNotUtf8(const QSettings &settings)
{
    for (const QString &key : settings.allKeys()) {
        const QString text = key + settings.value(key).toStringList().join(QLatin1Char(','));
        if (text.contains(QChar::ReplacementCharacter))
            return QStringLiteral("в нём есть текст не в кодировке UTF-8 (ключ %1), запись испортила бы его").arg(key);
    }
    return QString();
}

} // namespace

SettingsStore::SettingsStore()
    : m_file(fileIn(userFolder()))
{
}

SettingsStore::SettingsStore(const QString &iniFile)
    : m_file(iniFile)
{
}

QString SettingsStore::fileIn(const QString &folder)
{
    return folder + QLatin1Char('/') + kApp + QStringLiteral(".ini");
}

QString SettingsStore::read(const QString &app, const QString &section, const QString &key,
                            const QString &def) const
{
    Q_UNUSED(app);
    const QString path = keyPath(section, key);
    for (const QHash<QString, QString> *held : {&m_overrides, &m_unsaved}) {
        const auto value = held->constFind(path);
        if (value != held->constEnd())
            return *value;
    }
    if (m_file.isEmpty())
        return def;
    const QString problem = SettingsFile::whyNotRead(m_file);
    if (problem != m_readProblem) {
        m_readProblem = problem;
        if (!problem.isEmpty() && m_tellProblem)
            m_tellProblem(QStringLiteral("Не удалось прочитать настройки из %1: %2; действуют значения по умолчанию")
                              .arg(QDir::toNativeSeparators(m_file), problem));
    }
    if (!problem.isEmpty())
        return def;
    // A new QSettings each time sees what another instance saved since.
    const SettingsFile::Turn turn(m_file, SettingsFile::Turn::Reading);
    const QVariant value = QSettings(m_file, QSettings::IniFormat).value(path);
    return value.isValid() ? value.toString() : def;
}

bool SettingsStore::save(const QString &app, const QString &section, const QString &key,
                         const QString &text)
{
    Q_UNUSED(app);
    const QString path = keyPath(section, key);
    if (m_overrides.contains(path) || m_file.isEmpty()) {
        m_overrides[path] = text;
        return true;
    }
    return saveChosen([&](const SettingsStore &) { return QList<Change>{{section, key, text}}; });
}

bool SettingsStore::saveChosen(const std::function<QList<Change>(const SettingsStore &now)> &choose)
{
    if (m_file.isEmpty()) {
        for (const Change &change : choose(*this))
            m_overrides[keyPath(change.section, change.key)] = change.text;
        return true;
    }
    SettingsFile::Identity before = SettingsFile::identity(m_file);
    // Values may be written as \x escapes, six bytes a character.
    const auto bytesFor = [&before](const QList<Change> &changes) {
        qint64 bytes = before.size;
        for (const Change &change : changes)
            bytes += 6 * (change.section.size() + change.key.size() + 1 + change.text.size()) + 16;
        return bytes;
    };
    // Looked at once before the turn, which needs the folder to be there.
    QString problem = SettingsFile::whyNotSave(m_file, bytesFor({}));
    std::optional<SettingsFile::Turn> turn;
    if (problem.isEmpty()) {
        turn.emplace(m_file, SettingsFile::Turn::Saving);
        problem = turn->problem();
        // Another process may have saved while this one waited for its turn.
        before = SettingsFile::identity(m_file);
    }
    QList<Change> changes;
    if (problem.isEmpty()) {
        const SettingsFile::Owner owner(m_file);
        QSettings settings(m_file, QSettings::IniFormat);
        problem = textNotUtf8(settings);
        if (problem.isEmpty()) {
            SettingsStore now{QString()};
            for (const QString &key : settings.allKeys())
                now.m_overrides[key] = settings.value(key).toString();
            for (const QHash<QString, QString> *held : {&m_unsaved, &m_overrides})
                for (auto it = held->cbegin(); it != held->cend(); ++it)
                    now.m_overrides[it.key()] = it.value();
            for (const Change &change : choose(now)) {
                const QString path = keyPath(change.section, change.key);
                if (m_overrides.contains(path))
                    m_overrides[path] = change.text;
                else
                    changes << change;
            }
            if (changes.isEmpty())
                return true;
            problem = SettingsFile::whyNotSave(m_file, bytesFor(changes));
            if (problem.isEmpty()) {
                for (const Change &change : changes)
                    settings.setValue(keyPath(change.section, change.key), change.text);
                settings.sync();
                // QSettings puts a new file in place on success. Its status cannot
                // tell a failed write after a file it could not fully parse.
                if (settings.status() != QSettings::AccessError && !(SettingsFile::identity(m_file) == before)) {
                    owner.restore();
                    for (const Change &change : changes)
                        m_unsaved.remove(keyPath(change.section, change.key));
                    return true;
                }
                problem = SettingsFile::whyNotSaved(m_file, bytesFor(changes));
            }
        }
    }
    // Held for the run, as chosen from what this run can see.
    if (changes.isEmpty()) {
        turn.reset();
        for (const Change &change : choose(*this))
            changes << change;
    }
    for (const Change &change : changes) {
        const QString path = keyPath(change.section, change.key);
        if (m_overrides.contains(path))
            m_overrides[path] = change.text;
        else
            m_unsaved[path] = change.text;
    }
    if (m_tellProblem)
        m_tellProblem(QStringLiteral("Не удалось сохранить настройки в %1: %2")
                          .arg(QDir::toNativeSeparators(m_file), problem));
    return false;
}

void SettingsStore::overrideForRun(const QString &section, const QString &key, const QString &text)
{
    m_overrides[keyPath(section, key)] = text;
}

QString SettingsStore::fileName() const
{
    return m_file;
}

void SettingsStore::setProblemHandler(std::function<void(const QString &)> handler)
{
    m_tellProblem = std::move(handler);
}
