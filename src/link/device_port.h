#pragma once

#include "platform/serial_port.h"

#include <QStringList>

#include <functional>
#include <memory>

namespace kqm::files {
class SettingsTable;
}

namespace kqm::link {

// The device name that stands for the built-in simulated unit.
inline const QString SimulatedDevice = QStringLiteral("sim");

// The port the link talks through: port numbers stand for devices (a path,
// COMn, or the simulated unit), looked up when the port is opened, so a new
// choice takes effect at the next connect.
class DevicePort final : public platform::SerialPort {
public:
    using Resolver = std::function<QString(int portNumber)>;
    using Factory = std::function<std::unique_ptr<platform::SerialPort>(const QString& device)>;

    DevicePort(Resolver resolver, Factory factory);

    bool PortOpen() const override { return m_port && m_port->PortOpen(); }
    bool open() override;
    void Close() override;
    int CommPort() const override { return m_commPort; }
    void setCommPort(int port) override { m_commPort = port; }
    void setSettings(const QString& settings) override { m_settings = settings; }
    bool CTSHolding() override { return m_port && m_port->CTSHolding(); }
    void Output(const QByteArray& data) override;
    int OutBufferCount() override { return m_port ? m_port->OutBufferCount() : 0; }
    int InBufferCount() override { return m_port ? m_port->InBufferCount() : 0; }
    QByteArray Input() override { return m_port ? m_port->Input() : QByteArray(); }
    void waitForWritten(int milliseconds) override;
    OpenFailure openFailure() const override { return m_failure; }
    QString errorString() const override { return m_error; }
    QString deviceName() const override { return m_device; }
    bool simulated() const override { return m_port && m_port->simulated(); }

    platform::SerialPort* current() const { return m_port.get(); }

private:
    Resolver m_resolver;
    Factory m_factory;
    std::unique_ptr<platform::SerialPort> m_port;
    QString m_device;
    QString m_settings = QStringLiteral("9600,N,8,1");
    int m_commPort = 1;
    OpenFailure m_failure = OpenFailure::None;
    QString m_error;
};

// What opens a device: the simulated unit for SimulatedDevice (made by the
// caller, who holds the simulator), a real serial port for anything else.
DevicePort::Factory
deviceFactory(std::function<std::unique_ptr<platform::SerialPort>()> makeSimulated);

// A serial device the user can pick for a port number.
struct DeviceChoice {
    QString device;      // what is stored: a path, COMn, or "sim"
    QString description; // what the user reads
};
// The ports the platform reports (with their descriptions) and the
// simulated unit.
QList<DeviceChoice> availableDevices();

// Devices for COM 1 to COM 4 on a fresh installation: detected USB serial
// adapters first, then the platform's other ports; the simulated unit for
// COM 1 when nothing is detected.
QStringList defaultPortDevices();
// Stores the default device of every port number 1 to 4 that has none yet.
// A port that the tool itself pointed at the simulated unit, because no
// serial port was found then, gets the detected port once one is there; a
// port that the user pointed at the simulated unit stays as it is.
void ensurePortDevices(files::SettingsTable& settings,
                       const std::function<QStringList()>& defaults = defaultPortDevices);
// The stored device of a port number, or the default for it.
QString portDevice(files::SettingsTable& settings, int portNumber);
// Looks the device up in the settings file at each open, so a choice made
// meanwhile takes effect at the next connect.
DevicePort::Resolver settingsFileResolver(const QString& settingsPath);

} // namespace kqm::link
