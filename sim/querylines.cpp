#include "sim/querylines.h"

#include <utility>

QList<QByteArray> QueryLines::take(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    for (const char c : bytes) {
        if (c != '\r' && c != '\n') {
            if (m_partial.size() < kMaxLineBytes)
                m_partial += c;
        } else if (!m_partial.isEmpty()) {
            lines << std::exchange(m_partial, QByteArray());
        }
    }
    return lines;
}
