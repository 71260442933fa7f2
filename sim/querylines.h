#pragma once

#include <QByteArray>
#include <QList>

// The БС's reading of what the PC sends: bytes gather into query lines. CR LF, a lone CR or a lone LF
// ends a line (no empty one between CR and LF); one that never ends is cut: the БС forgets what does not fit.
class QueryLines
{
public:
    static constexpr qsizetype kMaxLineBytes = 256;

    // The lines the bytes complete, without their line ends.
    QList<QByteArray> take(const QByteArray &bytes);
    // A line begun is lost (the port was closed or reopened).
    void clear() { m_partial.clear(); }

private:
    QByteArray m_partial;
};
