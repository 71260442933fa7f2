#include "link/windowscomport.h"

#include <QDeadlineTimer>
#include <QThread>

#include <windows.h>

namespace {

HANDLE handleOf(void *h)
{
    return static_cast<HANDLE>(h);
}

// The kinds of failure as QSerialPort names them for the same system errors.
QSerialPort::SerialPortError errorKind(DWORD code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return QSerialPort::DeviceNotFoundError;
    case ERROR_ACCESS_DENIED:
        return QSerialPort::PermissionError;
    case ERROR_INVALID_HANDLE:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_GEN_FAILURE:
    case ERROR_OPERATION_ABORTED:
        return QSerialPort::ResourceError;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
        return QSerialPort::UnsupportedOperationError;
    default:
        return QSerialPort::UnknownError;
    }
}

} // namespace

WindowsComPort::WindowsComPort(QObject *parent) : QObject(parent), m_handle(INVALID_HANDLE_VALUE) {}

WindowsComPort::~WindowsComPort()
{
    close();
}

bool WindowsComPort::isOpen() const
{
    return m_handle != INVALID_HANDLE_VALUE;
}

void WindowsComPort::setSystemError(unsigned long code)
{
    m_error = errorKind(code);
    m_errorString = qt_error_string(int(code));
    emit errorOccurred(m_error);
}

bool WindowsComPort::open(QIODevice::OpenMode mode)
{
    if (isOpen() || (mode & QIODevice::ReadWrite) != QIODevice::ReadWrite)
        return false;
    // The device namespace reaches every COM port, COM10 and above too.
    const QString path = m_name.startsWith(QLatin1String("\\\\.\\")) ? m_name : QStringLiteral("\\\\.\\") + m_name;
    const HANDLE h = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
                                 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        setSystemError(GetLastError());
        return false;
    }
    m_handle = h;

    // Reads return at once with what is there; a write may take as long as
    // its bytes need at the slowest rate, and a second more.
    COMMTIMEOUTS timeouts {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.WriteTotalTimeoutMultiplier = 10;
    timeouts.WriteTotalTimeoutConstant = 1000;
    if (!applyLineSettings() || !SetCommTimeouts(h, &timeouts)) {
        const DWORD code = GetLastError();
        CloseHandle(h);
        m_handle = INVALID_HANDLE_VALUE;
        setSystemError(code);
        return false;
    }
    return true;
}

void WindowsComPort::close()
{
    if (!isOpen())
        return;
    CloseHandle(handleOf(m_handle));
    m_handle = INVALID_HANDLE_VALUE;
}

bool WindowsComPort::applyLineSettings()
{
    DCB dcb {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handleOf(m_handle), &dcb))
        return false;
    dcb.BaudRate = DWORD(m_baudRate);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    // No flow control of any kind: DTR and RTS are the program's to set.
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    return SetCommState(handleOf(m_handle), &dcb);
}

bool WindowsComPort::setBaudRate(qint32 baudRate)
{
    if (baudRate <= 0)
        return false;
    const qint32 previous = m_baudRate;
    m_baudRate = baudRate;
    if (isOpen() && !applyLineSettings()) {
        m_baudRate = previous;
        setSystemError(GetLastError());
        return false;
    }
    return true;
}

bool WindowsComPort::setDataTerminalReady(bool on)
{
    return setLine(on ? SETDTR : CLRDTR);
}

bool WindowsComPort::setRequestToSend(bool on)
{
    return setLine(on ? SETRTS : CLRRTS);
}

bool WindowsComPort::setLine(unsigned long function)
{
    if (!isOpen())
        return false;
    if (!EscapeCommFunction(handleOf(m_handle), function)) {
        setSystemError(GetLastError());
        return false;
    }
    return true;
}

QSerialPort::PinoutSignals WindowsComPort::pinoutSignals()
{
    DWORD status = 0;
    if (!isOpen())
        return QSerialPort::NoSignal;
    if (!GetCommModemStatus(handleOf(m_handle), &status)) {
        setSystemError(GetLastError());
        return QSerialPort::NoSignal;
    }
    QSerialPort::PinoutSignals pins = QSerialPort::NoSignal;
    if (status & MS_CTS_ON)
        pins |= QSerialPort::ClearToSendSignal;
    if (status & MS_DSR_ON)
        pins |= QSerialPort::DataSetReadySignal;
    if (status & MS_RING_ON)
        pins |= QSerialPort::RingIndicatorSignal;
    if (status & MS_RLSD_ON)
        pins |= QSerialPort::DataCarrierDetectSignal;
    return pins;
}

qint64 WindowsComPort::bytesAvailable()
{
    if (!isOpen())
        return 0;
    DWORD errors = 0;
    COMSTAT status {};
    if (!ClearCommError(handleOf(m_handle), &errors, &status)) {
        setSystemError(GetLastError());
        return 0;
    }
    return status.cbInQue;
}

bool WindowsComPort::waitForReadyRead(int msecs)
{
    const QDeadlineTimer deadline(msecs);
    while (isOpen()) {
        if (bytesAvailable() > 0)
            return true;
        if (deadline.hasExpired())
            break;
        QThread::msleep(1);
    }
    return false;
}

QByteArray WindowsComPort::readAll()
{
    QByteArray bytes;
    char chunk[4096];
    while (isOpen()) {
        DWORD got = 0;
        if (!ReadFile(handleOf(m_handle), chunk, sizeof chunk, &got, nullptr)) {
            setSystemError(GetLastError());
            break;
        }
        if (got == 0)
            break;
        bytes.append(chunk, qsizetype(got));
    }
    return bytes;
}

qint64 WindowsComPort::write(const QByteArray &bytes)
{
    if (!isOpen())
        return -1;
    DWORD written = 0;
    if (!WriteFile(handleOf(m_handle), bytes.constData(), DWORD(bytes.size()), &written, nullptr)) {
        setSystemError(GetLastError());
        return -1;
    }
    if (written < DWORD(bytes.size())) {
        // Without flow control only a device that is gone takes longer than its bytes need.
        m_error = QSerialPort::WriteError;
        m_errorString = qt_error_string(ERROR_TIMEOUT);
        emit errorOccurred(m_error);
    }
    return qint64(written);
}
