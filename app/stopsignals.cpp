#include "app/stopsignals.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

const struct {
    int number;
    const char *name;
} kSignals[] = {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};
int g_pipe[2] = {-1, -1};

void onSignal(int signal)
{
    const int saved = errno;
    const char number = char(signal);
    (void)!::write(g_pipe[1], &number, 1);
    errno = saved;
}

} // namespace

StopSignals::StopSignals(std::function<void(int)> onStop) : m_onStop(std::move(onStop))
{
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::takeSignal);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Every signal takes this path, however many come and in whatever order:
    // one with its usual effect would end the program with the port as the
    // check set it.
    action.sa_flags = SA_RESTART;
    for (const auto &signal : kSignals)
        ::sigaction(signal.number, &action, nullptr);
}

StopSignals::~StopSignals()
{
    if (!m_notifier)
        return;
    // The check is over, its port being closed as the program ends: a signal
    // now would only cut that short and leave the device as the check set it.
    for (const auto &signal : kSignals)
        std::signal(signal.number, SIG_IGN);
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void StopSignals::takeSignal()
{
    char number = 0;
    while (::read(g_pipe[0], &number, 1) == 1) {
        // The first signal gives the exit status; each one is heard.
        if (m_caught == 0)
            m_caught = number;
        m_onStop(number);
    }
}

QString StopSignals::name() const
{
    for (const auto &signal : kSignals)
        if (signal.number == m_caught)
            return QLatin1String(signal.name);
    return QString::number(m_caught);
}

#else

StopSignals::StopSignals(std::function<void(int)> onStop) : m_onStop(std::move(onStop))
{
}

StopSignals::~StopSignals() = default;

void StopSignals::takeSignal() {}

QString StopSignals::name() const
{
    return QString::number(m_caught);
}

#endif
