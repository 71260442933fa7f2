#include "link/qtserialport.h"

#include "link/systemports.h"

QtSerialPort::QtSerialPort(QObject *parent) : SerialPort(parent)
{
    connect(&m_port, &QSerialPort::readyRead, this, &QtSerialPort::absorb);
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialPort::onError);
}

void QtSerialPort::close()
{
    if (m_port.isOpen())
        m_port.close();
    m_buffer.clear();
}

bool QtSerialPort::open(const QString &device, qint32 baudRate)
{
    QtSerialPort::close();
    m_device = device;
    m_baudRate = baudRate;
    m_openError.clear();
    m_linesUnreadable = false;
    m_port.setPortName(device);
    // The rest of the line settings stay QSerialPort's own: 8N1, no flow control.
    m_port.setBaudRate(baudRate);
    if (!m_port.open(QIODevice::ReadWrite)) {
        m_openError = unopenedPortExplanation(device, m_port.errorString(),
                                              m_port.error() == QSerialPort::PermissionError);
        m_port.clearError();
        return false;
    }
    // The lines start as the program last set them, not as the driver left them.
    m_port.setDataTerminalReady(m_dtr);
    m_port.setRequestToSend(m_rts);
    m_port.clearError();
    return true;
}

bool QtSerialPort::setBaudRate(qint32 baudRate)
{
    if (!m_port.isOpen() || baudRate <= 0)
        return false;
    if (!m_port.setBaudRate(baudRate)) {
        m_port.clearError();
        return false;
    }
    m_baudRate = baudRate;
    return true;
}

void QtSerialPort::absorb()
{
    const QByteArray bytes = m_port.readAll();
    receive(bytes.constData(), bytes.size());
}

qsizetype QtSerialPort::bytesWaiting()
{
    if (!m_port.isOpen())
        return 0;
    // Take in what the system holds right now, without waiting for the event loop.
    if (m_port.waitForReadyRead(0) || m_port.bytesAvailable() > 0)
        absorb();
    if (m_port.error() == QSerialPort::TimeoutError)
        m_port.clearError();
    return m_buffer.size();
}

void QtSerialPort::write(const QByteArray &bytes)
{
    if (!m_port.isOpen())
        return;
    m_port.write(bytes);
    m_port.flush();
}

void QtSerialPort::setDtr(bool on)
{
    m_dtr = on;
    if (m_port.isOpen() && !m_port.setDataTerminalReady(on))
        m_port.clearError();
}

void QtSerialPort::setRts(bool on)
{
    m_rts = on;
    if (m_port.isOpen() && !m_port.setRequestToSend(on))
        m_port.clearError();
}

QSerialPort::PinoutSignals QtSerialPort::pinout()
{
    if (!m_port.isOpen())
        return QSerialPort::NoSignal;
    // A device that cannot report its lines (a pseudo-terminal) reads as all off.
    const QSerialPort::PinoutSignals pins = m_port.pinoutSignals();
    if (m_port.error() != QSerialPort::NoError) {
        m_linesUnreadable = m_linesUnreadable || m_port.error() == QSerialPort::UnsupportedOperationError;
        m_port.clearError();
    }
    return pins;
}

void QtSerialPort::onError(QSerialPort::SerialPortError error)
{
    // The device is gone (an adapter pulled). Close at the first error: the
    // port may otherwise report read errors without end.
    // A failed opening (a port in use by another program) keeps its error:
    // open() reports it through openError() and clears it then.
    const bool gone = error == QSerialPort::ResourceError || error == QSerialPort::ReadError
                      || error == QSerialPort::WriteError || error == QSerialPort::PermissionError;
    if (gone && m_port.isOpen()) {
        close();
        m_port.clearError();
        emit lost();
    }
}
