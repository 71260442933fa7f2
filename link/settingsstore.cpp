#include "link/settingsstore.h"

#include <QSysInfo>

namespace {
QString keyPath(const QString &section, const QString &key)
{
    return section + QLatin1Char('/') + key;
}
}

SettingsStore::SettingsStore()
    : m_settings(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, kApp))
{
}

SettingsStore::SettingsStore(const QString &iniFile)
    : m_settings(std::make_unique<QSettings>(iniFile, QSettings::IniFormat))
{
}

QString SettingsStore::read(const QString &app, const QString &section, const QString &key,
                            const QString &def) const
{
    Q_UNUSED(app);
    const QString path = keyPath(section, key);
    const auto over = m_overrides.constFind(path);
    if (over != m_overrides.constEnd())
        return *over;
    // Another instance may have saved since this one last looked.
    m_settings->sync();
    const QVariant value = m_settings->value(path);
    if (!value.isValid())
        return def;
    // A hand-edited value such as "1,2" comes back as a list: keep its text.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

void SettingsStore::save(const QString &app, const QString &section, const QString &key,
                         const QString &text)
{
    Q_UNUSED(app);
    const QString path = keyPath(section, key);
    if (m_overrides.contains(path)) {
        m_overrides[path] = text;
        return;
    }
    m_settings->setValue(path, text);
    m_settings->sync();
}

void SettingsStore::overrideForRun(const QString &section, const QString &key, const QString &text)
{
    m_overrides[keyPath(section, key)] = text;
}

QString SettingsStore::fileName() const
{
    return m_settings->fileName();
}

QString deviceForPort(const SettingsStore &store, qint16 n)
{
    const QString com = QStringLiteral("COM") + QString::number(n);
#ifdef Q_OS_WIN
    return com;
#else
    const QString mapped = store.read(kApp, QStringLiteral("PORTS"), com, QString()).trimmed();
    if (!mapped.isEmpty())
        return mapped;
    return QStringLiteral("/dev/ttyS") + QString::number(n - 1);
#endif
}
