#include "link/device_port.h"

#include "files/settings_table.h"
#include "link/qt_serial_port.h"

#include <QSerialPortInfo>

namespace kqm::link {

DevicePort::DevicePort(Resolver resolver, Factory factory)
    : m_resolver(std::move(resolver)), m_factory(std::move(factory)) {}

bool DevicePort::open() {
    m_failure = OpenFailure::None;
    m_error.clear();
    const QString device = m_resolver(m_commPort);
    if (!m_port || device != m_device) {
        m_port.reset();
        m_device = device;
        if (!device.isEmpty())
            m_port = m_factory(device);
    }
    if (!m_port) {
        m_failure = OpenFailure::NotFound;
        m_error = QStringLiteral("no serial device is set for COM %1").arg(m_commPort);
        return false;
    }
    m_port->setLostHandler([this](const QString& reason) { reportLost(reason); });
    m_port->setCommPort(m_commPort);
    m_port->setSettings(m_settings);
    if (m_port->open())
        return true;
    m_failure = m_port->openFailure();
    m_error = m_port->errorString();
    return false;
}

void DevicePort::Close() {
    if (m_port)
        m_port->Close();
}

void DevicePort::Output(const QByteArray& data) {
    if (m_port)
        m_port->Output(data);
}

void DevicePort::waitForWritten(int milliseconds) {
    if (m_port)
        m_port->waitForWritten(milliseconds);
}

QStringList defaultPortDevices() {
    QStringList usb;
    QStringList others;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports) {
        (info.hasVendorIdentifier() ? usb : others) << info.systemLocation();
    }
    QStringList devices = usb + others;
    if (devices.isEmpty())
        devices << SimulatedDevice;
    while (devices.size() < 4)
        devices << QString();
    return devices.mid(0, 4);
}

void ensurePortDevices(files::SettingsTable& settings,
                       const std::function<QStringList()>& defaults) {
    QStringList detected;
    const auto defaultFor = [&](int port) {
        if (detected.isEmpty())
            detected = defaults();
        return detected.value(port - 1);
    };
    for (int port = 1; port <= 4; ++port) {
        const std::optional<QString> stored = settings.portDevice(port);
        if (!stored) {
            const QString device = defaultFor(port);
            settings.setPortDevice(port, device, device == SimulatedDevice);
        } else if (*stored == SimulatedDevice && settings.portDeviceAutomatic(port)) {
            const QString device = defaultFor(port);
            if (!device.isEmpty() && device != SimulatedDevice)
                settings.setPortDevice(port, device);
        }
    }
}

QString portDevice(files::SettingsTable& settings, int portNumber) {
    if (const auto device = settings.portDevice(portNumber))
        return *device;
    const QStringList defaults = defaultPortDevices();
    return portNumber >= 1 && portNumber <= 4 ? defaults.at(portNumber - 1) : QString();
}

DevicePort::Resolver settingsFileResolver(const QString& settingsPath) {
    return [settingsPath](int portNumber) {
        files::SettingsTable settings;
        if (!settings.open(settingsPath))
            return QString();
        return portDevice(settings, portNumber);
    };
}

QList<DeviceChoice> availableDevices() {
    QList<DeviceChoice> devices;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports) {
        QString description = info.description();
        if (!info.manufacturer().isEmpty() && !description.contains(info.manufacturer()))
            description += QStringLiteral(" (%1)").arg(info.manufacturer());
        devices.push_back({info.systemLocation(), description});
    }
    devices.push_back({SimulatedDevice, QStringLiteral("Simulated unit (for trying the tool)")});
    return devices;
}

DevicePort::Factory
deviceFactory(std::function<std::unique_ptr<platform::SerialPort>()> makeSimulated) {
    return [makeSimulated = std::move(makeSimulated)](
               const QString& device) -> std::unique_ptr<platform::SerialPort> {
        if (device == SimulatedDevice)
            return makeSimulated();
        return std::make_unique<QtSerialPort>(device);
    };
}

} // namespace kqm::link
