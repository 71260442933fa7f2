#pragma once

#include "link/serialport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QTextStream>
#include <QTimer>
#include <QWidget>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#include <psapi.h>
#endif

// Resident memory of this process ("31.7 MB"; the working set on Windows), or
// "unknown" where the system does not tell.
inline QString residentMemory()
{
    double megabytes = -1;
#ifdef Q_OS_WIN
    PROCESS_MEMORY_COUNTERS counters {};
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        megabytes = double(counters.WorkingSetSize) / (1024 * 1024);
#else
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly | QIODevice::Text)) {
        for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine())
            if (line.startsWith("VmRSS:"))
                megabytes = line.mid(6).trimmed().split(' ').first().toDouble() / 1024;   // given in kB
    }
#endif
    return megabytes < 0 ? QStringLiteral("unknown") : QString::number(megabytes, 'f', 1) + QStringLiteral(" MB");
}

// --startup-report: waits for the window's first paint, lets the event loop
// finish that round (the drawing reaches the screen), then prints
// "<program>: window shown in N ms" and, for a window with a port,
// "<program>: port DEVICE open" (or "closed": what the window started on, the
// simulated port included); a second later, once the window has settled,
// "<program>: resident memory M MB", and quits.
class StartupReport : public QObject
{
public:
    StartupReport(const QString &program, QWidget &window, const QElapsedTimer &sinceStart,
                  const SerialPort *port = nullptr)
        : m_program(program), m_port(port), m_sinceStart(sinceStart)
    {
        window.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, [this] { reportShown(); });
        }
        return false;
    }

private:
    void reportShown()
    {
        QTextStream(stderr) << m_program << ": window shown in " << m_sinceStart.elapsed() << " ms" << Qt::endl;
        if (m_port)
            QTextStream(stderr) << m_program << ": port " << m_port->device() << (m_port->isOpen() ? " open" : " closed")
                                << Qt::endl;
        QTimer::singleShot(1000, this, [this] {
            QTextStream(stderr) << m_program << ": resident memory " << residentMemory() << Qt::endl;
            QCoreApplication::exit(0);
        });
    }

    QString m_program;
    const SerialPort *m_port;
    const QElapsedTimer &m_sinceStart;
};
