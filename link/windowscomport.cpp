#include "link/windowscomport.h"

#include "link/systemports.h"

#include <windows.h>

#include <utility>

namespace {

// The watch takes in received bytes this often while the line is busy; a
// reply's end is seen this late at most.
constexpr int kWatchIntervalMs = 2;
// ... and for this long after the last write or byte: longer than any wait
// for a reply.
constexpr qint64 kWatchForMs = 3000;

} // namespace

WindowsComPort::WindowsComPort(QObject *parent) : SerialPort(parent), m_handle(INVALID_HANDLE_VALUE)
{
    m_lineWatch.setTimerType(Qt::PreciseTimer);
    m_lineWatch.setInterval(kWatchIntervalMs);
    connect(&m_lineWatch, &QTimer::timeout, this, &WindowsComPort::watchLine);
}

WindowsComPort::~WindowsComPort()
{
    WindowsComPort::close();
}

bool WindowsComPort::isOpen() const
{
    return m_handle != INVALID_HANDLE_VALUE;
}

bool WindowsComPort::open(const QString &device, qint32 baudRate)
{
    WindowsComPort::close();
    m_device = device;
    m_baudRate = baudRate;
    m_openError.clear();
    // The device namespace reaches every COM port, COM10 and above too.
    const QString path = device.startsWith(QLatin1String("\\\\.\\")) ? device : QStringLiteral("\\\\.\\") + device;
    const HANDLE h = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
                                 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        m_openError = unopenedPortExplanation(device, qt_error_string(int(code)), code == ERROR_ACCESS_DENIED);
        return false;
    }
    m_handle = h;

    // Reads return at once with what is there; a write may take as long as
    // its bytes need at the slowest rate, and a second more.
    COMMTIMEOUTS timeouts {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.WriteTotalTimeoutMultiplier = 10;
    timeouts.WriteTotalTimeoutConstant = 1000;
    if (baudRate <= 0 || !applyLineSettings(baudRate) || !SetCommTimeouts(h, &timeouts)) {
        const DWORD code = baudRate <= 0 ? DWORD(ERROR_INVALID_PARAMETER) : GetLastError();
        WindowsComPort::close();
        m_openError = qt_error_string(int(code));
        return false;
    }
    return true;
}

void WindowsComPort::close()
{
    m_lineWatch.stop();
    m_buffer.clear();
    if (isOpen())
        CloseHandle(std::exchange(m_handle, INVALID_HANDLE_VALUE));
}

void WindowsComPort::callFailed(WindowsPortCall call, unsigned long code)
{
    if (windowsPortFailure(call, code) == WindowsPortFailure::Lost && isOpen()) {
        close();
        emit lost();
    }
}

bool WindowsComPort::applyLineSettings(qint32 baudRate)
{
    DCB dcb {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(m_handle, &dcb))
        return false;
    dcb.BaudRate = DWORD(baudRate);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    // No flow control of any kind: DTR and RTS are the program's to set, and
    // the DCB says how they are, or setting it again would drop them.
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fDtrControl = m_dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = m_rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    return SetCommState(m_handle, &dcb);
}

bool WindowsComPort::setBaudRate(qint32 baudRate)
{
    if (!isOpen() || baudRate <= 0)
        return false;
    if (!applyLineSettings(baudRate)) {
        callFailed(WindowsPortCall::SetRate, GetLastError());
        return false;
    }
    m_baudRate = baudRate;
    return true;
}

void WindowsComPort::setDtr(bool on)
{
    m_dtr = on;
    setLine(on ? SETDTR : CLRDTR);
}

void WindowsComPort::setRts(bool on)
{
    m_rts = on;
    setLine(on ? SETRTS : CLRRTS);
}

void WindowsComPort::setLine(unsigned long function)
{
    if (isOpen() && !EscapeCommFunction(m_handle, function))
        callFailed(WindowsPortCall::SetLine, GetLastError());
}

unsigned long WindowsComPort::modemStatus()
{
    DWORD status = 0;
    if (isOpen() && !GetCommModemStatus(m_handle, &status)) {
        callFailed(WindowsPortCall::ModemStatus, GetLastError());
        return 0;
    }
    return status;
}

bool WindowsComPort::dsr()
{
    return modemStatus() & MS_DSR_ON;
}

bool WindowsComPort::cts()
{
    return modemStatus() & MS_CTS_ON;
}

void WindowsComPort::absorb()
{
    DWORD errors = 0;
    COMSTAT status {};
    if (!ClearCommError(m_handle, &errors, &status)) {
        callFailed(WindowsPortCall::ClearErrors, GetLastError());
        return;
    }
    // Read whatever the queue says: ReadFile returns at once with what is there.
    char chunk[4096];
    DWORD got = sizeof chunk;
    while (got == sizeof chunk) {
        if (!ReadFile(m_handle, chunk, sizeof chunk, &got, nullptr)) {
            callFailed(WindowsPortCall::Read, GetLastError());
            return;
        }
        if (got > 0)
            m_sinceActivity.start();
        receive(chunk, qsizetype(got));
    }
}

void WindowsComPort::watchLine()
{
    bytesWaiting();
    if (!isOpen() || m_sinceActivity.hasExpired(kWatchForMs))
        m_lineWatch.stop();
}

qsizetype WindowsComPort::bytesWaiting()
{
    if (isOpen())
        absorb();
    return m_buffer.size();
}

void WindowsComPort::write(const QByteArray &bytes)
{
    if (!isOpen())
        return;
    DWORD written = 0;
    if (!WriteFile(m_handle, bytes.constData(), DWORD(bytes.size()), &written, nullptr)) {
        callFailed(WindowsPortCall::Write, GetLastError());
        return;
    }
    // Without flow control only a device that is gone takes longer than its bytes need.
    if (written < DWORD(bytes.size())) {
        callFailed(WindowsPortCall::Write, ERROR_TIMEOUT);
        return;
    }
    m_sinceActivity.start();
    if (!m_lineWatch.isActive())
        m_lineWatch.start();
}
