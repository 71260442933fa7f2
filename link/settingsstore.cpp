#include "link/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QSettings>

// The file is read afresh for every value and written by replacing the one
// line that changes. A general INI library would parse the whole file and
// write it back in its own form: comments dropped, sections and keys sorted,
// blanks trimmed, text that is not UTF-8 replaced. Values the program does not
// own would be rewritten whenever it saves the block number.
namespace {

QString keyPath(const QString &section, const QString &key)
{
    return section + QLatin1Char('/') + key;
}

// Section and key names compare without regard to case, as in the Windows
// store of per-user values.
bool sameName(const QByteArray &raw, const QString &name)
{
    return QString::fromUtf8(raw.trimmed()).compare(name, Qt::CaseInsensitive) == 0;
}

// Where a key's line is, or where a new key of its section would go.
struct Lookup
{
    qsizetype valueStart = -1;   // start of the value on the key's line; -1 when the key is missing
    qsizetype valueEnd = -1;     // end of the value, before blanks or a comment that follow it
    qsizetype sectionEnd = -1;   // just after the last non-blank line of the section; -1 when missing
};

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The value proper within a key's line: the blanks around it and a comment
// after it stay where they are when it is replaced.
void valueSpan(const QByteArray &data, qsizetype from, qsizetype end, Lookup *found)
{
    qsizetype start = from;
    while (start < end && isBlank(data.at(start)))
        ++start;
    qsizetype last = start;
    bool quoted = false;
    for (qsizetype i = start; i < end; ++i) {
        const char c = data.at(i);
        if (c == '\\') {
            ++i;
            last = qMin(i + 1, end);
            continue;
        }
        if (c == ';' && !quoted)
            break;
        if (c == '"')
            quoted = !quoted;
        if (!isBlank(c))
            last = i + 1;
    }
    found->valueStart = start;
    found->valueEnd = last;
}

Lookup lookup(const QByteArray &data, const QString &section, const QString &key)
{
    Lookup found;
    bool inSection = false;
    bool sectionDone = false;   // only the first [section] of a name takes new keys
    qsizetype pos = 0;
    while (pos < data.size()) {
        const qsizetype newline = data.indexOf('\n', pos);
        const qsizetype next = newline < 0 ? data.size() : newline + 1;
        qsizetype end = newline < 0 ? data.size() : newline;
        if (end > pos && data.at(end - 1) == '\r')
            --end;
        const QByteArray line = data.mid(pos, end - pos);
        const QByteArray text = line.trimmed();
        if (text.startsWith('[')) {
            if (inSection)
                sectionDone = true;
            const qsizetype close = text.indexOf(']');
            inSection = sameName(text.mid(1, close < 0 ? -1 : close - 1), section);
            if (inSection && !sectionDone)
                found.sectionEnd = next;
        } else if (inSection && !text.isEmpty()) {
            if (!sectionDone)
                found.sectionEnd = next;
            const qsizetype equals = line.indexOf('=');
            const bool comment = text.startsWith(';') || text.startsWith('#');
            if (!comment && equals >= 0 && found.valueStart < 0 && sameName(line.left(equals), key))
                valueSpan(data, pos + equals + 1, end, &found);
        }
        pos = next;
    }
    return found;
}

int hexDigit(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// The text of a stored value: blanks around it dropped, quotes removed,
// backslash escapes resolved, and an unquoted ';' starts a comment.
QString unescapedValue(const QByteArray &raw)
{
    const QString text = QString::fromUtf8(raw);
    QString out;
    qsizetype keep = 0;   // out is cut here at the end: trailing blanks outside quotes go
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
            keep = out.size();
            continue;
        }
        if (!quoted && c == QLatin1Char(';'))
            break;
        if (c == QLatin1Char('\\') && i + 1 < text.size()) {
            const QChar e = text.at(++i);
            if (e == QLatin1Char('n')) {
                out += QLatin1Char('\n');
            } else if (e == QLatin1Char('r')) {
                out += QLatin1Char('\r');
            } else if (e == QLatin1Char('t')) {
                out += QLatin1Char('\t');
            } else if (e == QLatin1Char('x')) {
                ushort code = 0;
                for (int digits = 0; digits < 4 && i + 1 < text.size(); ++digits) {
                    const int d = hexDigit(text.at(i + 1));
                    if (d < 0)
                        break;
                    code = ushort(code * 16 + d);
                    ++i;
                }
                out += QChar(code);
            } else {
                out += e;
            }
            keep = out.size();
            continue;
        }
        if (!quoted && c.isSpace()) {
            if (!out.isEmpty())
                out += c;
            continue;
        }
        out += c;
        keep = out.size();
    }
    out.truncate(keep);
    return out;
}

// The stored form of a value, read back unchanged by unescapedValue. Decimal
// numbers, all the program itself saves, are written as they are.
QByteArray escapedValue(const QString &text)
{
    bool quote = !text.isEmpty() && (text.front().isSpace() || text.back().isSpace());
    QString out;
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (c == QLatin1Char('"') || c == QLatin1Char('\\')) {
            out += QLatin1Char('\\');
            out += c;
        } else if (u < 32 || u == 127) {
            // A line break in a value must never split its line.
            out += QStringLiteral("\\x") + QString::number(u, 16).rightJustified(4, QLatin1Char('0'));
        } else {
            if (c == QLatin1Char(';'))
                quote = true;
            out += c;
        }
    }
    if (quote)
        out = QLatin1Char('"') + out + QLatin1Char('"');
    return out.toUtf8();
}

QByteArray lineEnd(const QByteArray &data)
{
    const qsizetype newline = data.indexOf('\n');
    if (newline > 0)
        return data.at(newline - 1) == '\r' ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
#ifdef Q_OS_WIN
    return QByteArrayLiteral("\r\n");
#else
    return QByteArrayLiteral("\n");
#endif
}

// The file's bytes with the key set to the text; nothing else changes.
QByteArray withValue(const QByteArray &data, const QString &section, const QString &key, const QString &text)
{
    const Lookup found = lookup(data, section, key);
    const QByteArray value = escapedValue(text);
    QByteArray result = data;
    if (found.valueStart >= 0)
        return result.replace(found.valueStart, found.valueEnd - found.valueStart, value);

    const QByteArray eol = lineEnd(data);
    const QByteArray entry = key.toUtf8() + '=' + value + eol;
    if (found.sectionEnd >= 0) {
        // The section's last line may be the file's last, without a line end.
        const bool open = found.sectionEnd > 0 && data.at(found.sectionEnd - 1) != '\n';
        return result.insert(found.sectionEnd, open ? eol + entry : entry);
    }
    if (!result.isEmpty()) {
        if (!result.endsWith('\n'))
            result += eol;
        result += eol;
    }
    return result + '[' + section.toUtf8() + ']' + eol + entry;
}

} // namespace

SettingsStore::SettingsStore()
    : m_file(QSettings(QSettings::IniFormat, QSettings::UserScope, kApp).fileName())
{
}

SettingsStore::SettingsStore(const QString &iniFile)
    : m_file(iniFile)
{
}

QString SettingsStore::read(const QString &app, const QString &section, const QString &key,
                            const QString &def) const
{
    Q_UNUSED(app);
    const auto over = m_overrides.constFind(keyPath(section, key));
    if (over != m_overrides.constEnd())
        return *over;
    // Read afresh each time: another instance may have saved since.
    QFile file(m_file);
    if (!file.open(QIODevice::ReadOnly))
        return def;
    const QByteArray data = file.readAll();
    const Lookup found = lookup(data, section, key);
    if (found.valueStart < 0)
        return def;
    return unescapedValue(data.mid(found.valueStart, found.valueEnd - found.valueStart));
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
    QDir().mkpath(QFileInfo(m_file).absolutePath());
    // Two instances saving at once take turns; a stale lock is not waited for long.
    QLockFile lock(m_file + QStringLiteral(".lock"));
    lock.tryLock(2000);

    QFile file(m_file);
    QByteArray data;
    if (file.exists()) {
        // A file that exists but cannot be read is never replaced by one key alone.
        if (!file.open(QIODevice::ReadOnly))
            return;
        data = file.readAll();
        file.close();
    }
    const QByteArray updated = withValue(data, section, key, text);
    if (file.exists() && updated == data)
        return;
    // Written aside and renamed over the old file: a crash leaves one or the other, whole.
    QSaveFile out(m_file);
    if (!out.open(QIODevice::WriteOnly))
        return;
    out.write(updated);
    out.commit();
}

void SettingsStore::overrideForRun(const QString &section, const QString &key, const QString &text)
{
    m_overrides[keyPath(section, key)] = text;
}

QString SettingsStore::fileName() const
{
    return m_file;
}
