#pragma once

#include "link/serialport.h"

#include <QSerialPort>
#ifdef Q_OS_WIN
#include "link/windowscomport.h"
#endif

class SettingsStore;

// The real serial port. COM port numbers become devices through the store
// (deviceForPort); received bytes collect in a bounded buffer of our own.
class QtSerialPort : public SerialPort
{
    Q_OBJECT
public:
    explicit QtSerialPort(const SettingsStore &store, QObject *parent = nullptr);
    ~QtSerialPort() override;

    bool PortOpen() const override;
    bool setPortOpen(bool open) override;
    qint16 CommPort() const override { return m_commPort; }
    bool setCommPort(qint16 port) override;
    QString Settings() const override { return m_settings; }
    bool setSettings(const QString &settings) override;
    void setHandshaking(qint32 mode) override { m_handshaking = mode; }
    void setRThreshold(qint16) override {}
    qint32 InputMode() const override { return m_inputMode; }
    void setInputMode(qint32 mode) override { m_inputMode = mode; }
    void setInBufferSize(qint16 size) override;
    void setInputLen(qint16) override {}
    qint16 InBufferCount() override;
    QByteArray Input() override;
    void Output(const QByteArray &bytes) override;
    bool DTREnable() const override { return m_dtr; }
    void setDTREnable(bool on) override;
    bool RTSEnable() const override { return m_rts; }
    void setRTSEnable(bool on) override;
    bool DSRHolding() override;
    bool CTSHolding() override;
    qint16 CommEvent() const override { return m_commEvent; }

    // Why the last opening failed, in words for the operator ("" when it did not fail).
    QString openError() const { return m_openError; }
    QString deviceName() const;


private:
    void absorb();
    void onError(QSerialPort::SerialPortError error);
    QSerialPort::PinoutSignals pinout();

    const SettingsStore &m_store;
#ifdef Q_OS_WIN
    WindowsComPort m_port;   // Qt's own hangs under Wine: see windowscomport.h
#else
    QSerialPort m_port;
#endif
    qint16 m_commPort = 1;
    QString m_settings = QStringLiteral("9600,n,8,1");
    qint32 m_handshaking = 0;
    qint32 m_inputMode = 0;
    qsizetype m_inBufferSize = 1024;
    bool m_dtr = false;
    bool m_rts = false;
    qint16 m_commEvent = CommEvents::None;
    QByteArray m_buffer;
    QString m_openError;
};
