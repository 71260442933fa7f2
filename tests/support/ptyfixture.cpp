#include "ptyfixture.h"

#include "link/settingsstore.h"
#include "modemshim.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(strerror(errno)));
}

bool makeRaw(int fd)
{
    termios tio {};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

} // namespace

PtyFixture::PtyFixture(SettingsStore &store, QObject *parent) : QObject(parent), m_store(store) {}

PtyFixture::~PtyFixture()
{
    closeAll();
}

bool PtyFixture::plug()
{
    closeAll();
    m_error.clear();
    // Close-on-exec, both: a program the test starts must not keep the line
    // alive (an unplug would then never reach it).
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_master < 0) {
        m_error = systemError("posix_openpt");
        return false;
    }
    char name[128] = {};
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0 || ptsname_r(m_master, name, sizeof name) != 0) {
        m_error = systemError("grantpt/unlockpt/ptsname");
        closeAll();
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    // The fixture holds the slave open for the pair's whole life: the line
    // discipline is raw before the program opens it (no echo, no CR/LF
    // translation of what is sent early), and the master never sees a hang-up
    // when the program closes its port.
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_slave < 0 || !makeRaw(m_slave)) {
        m_error = systemError("raw mode");
        closeAll();
        return false;
    }

    m_plugLife = new QObject(this);
    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, m_plugLife);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PtyFixture::readMaster);
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, m_plugLife);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &PtyFixture::flushOut);

    m_store.save({QStringLiteral("PORTS"), QStringLiteral("COM1"), m_slavePath});
    m_store.save({QStringLiteral("COMPORT"), QStringLiteral("COM"), QStringLiteral("1")});
    return true;
}

void PtyFixture::unplug()
{
    closeAll();
}

void PtyFixture::closeAll()
{
    // Timers and notifiers of this pair go with it: nothing is sent after the
    // unplug. They are deleted later, since a test may unplug from inside the
    // read notifier's own signal.
    ++m_generation;
    if (m_readNotifier)
        m_readNotifier->setEnabled(false);
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
    if (m_plugLife)
        m_plugLife->deleteLater();
    m_plugLife = nullptr;
    m_readNotifier = nullptr;
    m_writeNotifier = nullptr;
    m_out.clear();
    m_queries.clear();
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = -1;
    m_slave = -1;
}

void PtyFixture::setScenario(const Scenario &scenario)
{
    m_installation.scenario() = scenario;
    ModemShim::setInputs((m_installation.dsr() ? TIOCM_DSR : 0) | (m_installation.cts() ? TIOCM_CTS : 0));
}

void PtyFixture::send(const QByteArray &bytes)
{
    if (!plugged())
        return;
    m_out += bytes;
    flushOut();
}

void PtyFixture::sendLater(int delayMs, const QByteArray &bytes)
{
    if (!plugged())
        return;
    QTimer::singleShot(delayMs, m_plugLife, [this, bytes, generation = m_generation] {
        if (generation == m_generation)
            send(bytes);
    });
}

void PtyFixture::flushOut()
{
    while (!m_out.isEmpty() && m_master >= 0) {
        const ssize_t n = ::write(m_master, m_out.constData(), size_t(m_out.size()));
        if (n > 0) {
            m_out.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;   // the line is full: go on when it has room
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(!m_out.isEmpty());
}

void PtyFixture::readMaster()
{
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, chunk, sizeof chunk);
        if (n > 0) {
            m_written.append(chunk, n);
            for (const QByteArray &line : m_queries.take(QByteArray(chunk, n))) {
                handleLine(line);
                if (m_master < 0)
                    return;   // a test unplugged on this line
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if ((n == 0 || errno != EAGAIN) && m_readNotifier)
            m_readNotifier->setEnabled(false);   // never spin on a broken master
        return;
    }
}

void PtyFixture::handleLine(const QByteArray &line)
{
    if (onLine && onLine(line))
        return;
    if (!m_answering || m_master < 0)
        return;
    const QList<SimulatedInstallation::Send> sends = m_installation.respond(line);
    const bool rateMatches = m_onlyAtRate == 0 || lineRate() == m_onlyAtRate;
    for (const SimulatedInstallation::Send &send : sends) {
        // What a receiver at the wrong rate makes of it: bytes, but no line end.
        sendLater(int(send.afterMs), rateMatches ? send.bytes : QByteArray("\xF8\x80\xFE\x00\x78", 5));
    }
}

qint32 PtyFixture::lineRate() const
{
    termios tio {};
    if (m_slave < 0 || tcgetattr(m_slave, &tio) != 0)
        return -1;
    switch (cfgetospeed(&tio)) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return -1;
    }
}

bool PtyFixture::waitFor(const std::function<bool()> &cond, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!cond()) {
        if (deadline.hasExpired())
            return false;
        QTimer wake;
        wake.setSingleShot(true);
        wake.start(10);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}
