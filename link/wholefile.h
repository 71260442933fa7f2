#pragma once

#include <QByteArray>
#include <QString>

// Writes a file whole or not at all: the bytes go to a new file beside it,
// which replaces the old one only once every byte is on the disk. A failed
// write leaves the old file as it was. Returns "" when the file was written,
// else why not, in the program's words (no space, a file size limit, no rights).
QString writeWholeFile(const QString &path, const QByteArray &bytes);
