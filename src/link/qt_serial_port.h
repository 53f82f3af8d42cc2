#pragma once

#include "platform/serial_port.h"

#include <QSerialPort>

namespace kqm::link {

// A platform serial device (/dev/ttyUSB0, COM3, a pseudo-terminal) through
// QSerialPort. A device that cannot report its modem lines counts as holding
// CTS; any error on an open port closes it and reports the unit as gone.
class QtSerialPort final : public platform::SerialPort {
public:
    explicit QtSerialPort(QString device);
    ~QtSerialPort() override;

    bool PortOpen() const override { return m_port.isOpen(); }
    bool open() override;
    void Close() override;
    int CommPort() const override { return m_commPort; }
    void setCommPort(int port) override { m_commPort = port; }
    void setSettings(const QString& settings) override { m_settings = settings; }
    bool CTSHolding() override;
    void Output(const QByteArray& data) override;
    int OutBufferCount() override;
    int InBufferCount() override;
    QByteArray Input() override;
    void waitForWritten(int milliseconds) override;
    OpenFailure openFailure() const override { return m_failure; }
    QString errorString() const override { return m_error; }
    QString deviceName() const override { return m_device; }

private:
    void onError(QSerialPort::SerialPortError error);

    QSerialPort m_port;
    QString m_device;
    QString m_settings = QStringLiteral("9600,N,8,1");
    int m_commPort = 1;
    OpenFailure m_failure = OpenFailure::None;
    QString m_error;
};

} // namespace kqm::link
