#include "app/stopsignals.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
int g_pipe[2] = {-1, -1};

void onSignal(int signal)
{
    const int saved = errno;
    const char number = char(signal);
    (void)!::write(g_pipe[1], &number, 1);
    errno = saved;
}

} // namespace

StopSignals::StopSignals(std::function<void(int)> onStop, QObject *parent)
    : QObject(parent), m_onStop(std::move(onStop))
{
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::takeSignal);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // The handler is good for one signal; the next one has its usual effect.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    for (const int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}

StopSignals::~StopSignals()
{
    if (!m_notifier)
        return;
    for (const int signal : kSignals)
        std::signal(signal, SIG_DFL);
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void StopSignals::takeSignal()
{
    char number = 0;
    while (::read(g_pipe[0], &number, 1) == 1) {
        if (m_caught != 0)
            continue;
        m_caught = number;
        m_onStop(m_caught);
    }
}

QString StopSignals::name() const
{
    switch (m_caught) {
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return QString::number(m_caught);
    }
}

#else

StopSignals::StopSignals(std::function<void(int)> onStop, QObject *parent)
    : QObject(parent), m_onStop(std::move(onStop))
{
}

StopSignals::~StopSignals() = default;

void StopSignals::takeSignal() {}

QString StopSignals::name() const
{
    return QString::number(m_caught);
}

#endif
