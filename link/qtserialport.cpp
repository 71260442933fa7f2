#include "link/qtserialport.h"

#include "link/settingsstore.h"


QtSerialPort::QtSerialPort(const SettingsStore &store, QObject *parent)
    : SerialPort(parent), m_store(store)
{
#ifndef Q_OS_WIN
    connect(&m_port, &QSerialPort::readyRead, this, &QtSerialPort::absorb);
#endif
    connect(&m_port, &decltype(m_port)::errorOccurred, this, &QtSerialPort::onError);
}

QtSerialPort::~QtSerialPort()
{
    if (m_port.isOpen())
        m_port.close();
}

QString QtSerialPort::deviceName() const
{
    return deviceForPort(m_store, m_commPort);
}

bool QtSerialPort::PortOpen() const
{
    return m_port.isOpen();
}

bool QtSerialPort::setPortOpen(bool open)
{
    if (!open) {
        if (m_port.isOpen())
            m_port.close();
        m_buffer.clear();
        return true;
    }
    if (m_port.isOpen())
        return true;

    m_openError.clear();
    m_buffer.clear();
    m_port.setPortName(deviceName());
    m_port.setBaudRate(baudFromSettings(m_settings));
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite)) {
        m_openError = m_port.errorString();
        m_port.clearError();
        return false;
    }
    // The lines start as the program last set them, not as the driver left them.
    m_port.setDataTerminalReady(m_dtr);
    m_port.setRequestToSend(m_rts);
    m_port.clearError();
    return true;
}

bool QtSerialPort::setCommPort(qint16 port)
{
    if (m_port.isOpen() || port < 1 || port > 255)
        return false;
    m_commPort = port;
    return true;
}

bool QtSerialPort::setSettings(const QString &settings)
{
    const qint32 baud = baudFromSettings(settings);
    if (baud == 0)
        return false;
    if (m_port.isOpen() && !m_port.setBaudRate(baud)) {
        m_port.clearError();
        return false;
    }
    m_settings = settings;
    return true;
}

void QtSerialPort::setInBufferSize(qint16 size)
{
    m_inBufferSize = qMax<qsizetype>(1, size);
}

void QtSerialPort::absorb()
{
    const QByteArray bytes = m_port.readAll();
    // A full buffer drops what comes on top of it.
    const qsizetype room = m_inBufferSize - m_buffer.size();
    if (room > 0)
        m_buffer.append(bytes.constData(), qMin(room, bytes.size()));
}

qint16 QtSerialPort::InBufferCount()
{
    if (!m_port.isOpen())
        return 0;
    // Take in what the system holds right now, without waiting for the event loop.
    if (m_port.waitForReadyRead(0) || m_port.bytesAvailable() > 0)
        absorb();
    if (m_port.error() == QSerialPort::TimeoutError)
        m_port.clearError();
    return qint16(qMin<qsizetype>(m_buffer.size(), std::numeric_limits<qint16>::max()));
}

QByteArray QtSerialPort::Input()
{
    InBufferCount();
    QByteArray bytes;
    bytes.swap(m_buffer);
    return bytes;
}

void QtSerialPort::Output(const QByteArray &bytes)
{
    if (!m_port.isOpen())
        return;
    m_port.write(bytes);
    m_port.flush();
}

void QtSerialPort::setDTREnable(bool on)
{
    m_dtr = on;
    if (m_port.isOpen() && !m_port.setDataTerminalReady(on))
        m_port.clearError();
}

void QtSerialPort::setRTSEnable(bool on)
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
    if (m_port.error() != QSerialPort::NoError)
        m_port.clearError();
    return pins;
}

bool QtSerialPort::DSRHolding()
{
    return pinout().testFlag(QSerialPort::DataSetReadySignal);
}

bool QtSerialPort::CTSHolding()
{
    return pinout().testFlag(QSerialPort::ClearToSendSignal);
}

void QtSerialPort::onError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::PermissionError:
        // The device is gone (an adapter pulled). Close at the first error: the
        // port may otherwise report read errors without end.
        // A failed opening (a port in use by another program) keeps its error:
        // setPortOpen reports it through openError() and clears it then.
        if (m_port.isOpen()) {
            m_port.close();
            m_port.clearError();
            m_buffer.clear();
            m_commEvent = CommEvents::PortLost;
            emit OnComm();
        }
        break;
    default:
        break;
    }
}
