#pragma once

#include <QString>

// The settings file as seen before QSettings touches it. QSettings reads and
// writes through calls that wait for ever on a FIFO, a device or a lock held
// by someone else, and it reports no more than that something failed. Every
// path it will touch is looked at here first, with calls that never block;
// the answers are reasons in words for the technician, "" when nothing stands
// in the way.
namespace SettingsFile {

// A settings file is a few hundred bytes; anything over this is not ours.
constexpr qint64 kMaxBytes = 1024 * 1024;

// Why the file must not be read ("" when it may, or when there is none).
QString whyNotRead(const QString &file);

// Why a save of about `bytes` bytes cannot succeed. Makes the folder when it
// is missing.
QString whyNotSave(const QString &file, qint64 bytes);

// A turn with the file among the processes that read and save it. QSettings
// notes the size and time of the file after it has opened it, and skips
// reading it again under its lock when they have not changed since: a save
// by another process in between is lost. So a save holds the folder (flock)
// from reading the file to writing it, and a reading shares it; the wait
// goes on while others' saves keep changing the file, and ends after 3 s
// without one. A save's turn also needs QSettings' own lock free: another
// program's is waited for 3 s at most; anything but a lock file at its path
// is refused.
class Turn
{
public:
    enum Kind { Reading, Saving };
    Turn(const QString &file, Kind kind);
    ~Turn();
    Turn(const Turn &) = delete;
    Turn &operator=(const Turn &) = delete;

    // Why a save may not go on ("" when it may); a reading always goes on.
    QString problem() const { return m_problem; }

private:
    int m_folder = -1;
    QString m_problem;
};

// Why a save that QSettings reported as failed did fail.
QString whyNotSaved(const QString &file, qint64 bytes);

// Identity of the file on disk: a save through QSettings puts a new file in
// place, so a changed identity shows the save went through.
struct Identity
{
    bool exists = false;
    qint64 device = 0;
    qint64 inode = 0;
    qint64 modifiedNs = 0;
    qint64 size = 0;
    bool operator==(const Identity &o) const
    {
        return exists == o.exists && device == o.device && inode == o.inode && modifiedNs == o.modifiedNs
               && size == o.size;
    }
};
Identity identity(const QString &file);

// QSettings replaces the file with a new one, which belongs to whoever runs
// the program. Run by root on another user's file (sudo), the file is given
// back to its owner, so that the user's own saves keep working.
class Owner
{
public:
    explicit Owner(const QString &file);
    void restore() const;

private:
    QString m_file;
    bool m_keep = false;
    unsigned m_uid = 0;
    unsigned m_gid = 0;
};

} // namespace SettingsFile
