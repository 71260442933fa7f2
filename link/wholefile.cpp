#include "link/wholefile.h"

#include "link/systemerror.h"

#include <QSaveFile>
#include <cerrno>

namespace {

// The system's reason for the failure just now; the file's own words where
// the system gave no error number (Windows).
QString failureReason(const QSaveFile &file)
{
    return errno != 0 ? systemErrorText(errno) : file.errorString();
}

} // namespace

QString writeWholeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly))
        return failureReason(file);
    // Qt 6.4's commit() does not see a failure of the write it flushes itself
    // and renames the short file over the old one: every byte is written and
    // flushed here first, and any failure leaves the old file alone.
    errno = 0;
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QString why = failureReason(file);
        file.cancelWriting();
        return why;
    }
    errno = 0;
    if (!file.commit())
        return failureReason(file);
    return QString();
}
