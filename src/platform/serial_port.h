#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace kqm::platform {

// The operations of the serial-port control that the link uses, by name. The
// real port is QSerialPort on a platform device; tests and the demo use the
// simulated unit behind the same operations.
class SerialPort {
public:
    enum class OpenFailure { None, NotFound, PermissionDenied, Busy, Other };

    virtual ~SerialPort() = default;

    virtual bool PortOpen() const = 0;
    // Opens the port of CommPort with the framing of Settings; false (with
    // openFailure and errorString) when the device cannot be opened.
    virtual bool open() = 0;
    virtual void Close() = 0;
    virtual int CommPort() const = 0;
    virtual void setCommPort(int port) = 0;
    // Framing text such as "9600,N,8,1".
    virtual void setSettings(const QString& settings) = 0;
    // True while the unit will take a character; a device that cannot report
    // its modem lines counts as true.
    virtual bool CTSHolding() = 0;
    virtual void Output(const QByteArray& data) = 0;
    virtual int OutBufferCount() = 0;
    virtual int InBufferCount() = 0;
    virtual QByteArray Input() = 0;
    // Moves pending output to the device without yielding to the window system.
    virtual void waitForWritten(int milliseconds) = 0;

    virtual OpenFailure openFailure() const = 0;
    virtual QString errorString() const = 0;
    // The device named for the user (a path, "COM3", "simulated unit").
    virtual QString deviceName() const = 0;
    // The built-in simulated unit rather than a serial device.
    virtual bool simulated() const { return false; }

    // Called once when an open port goes away (cable pulled, adapter
    // removed); the port is closed by then.
    void setLostHandler(std::function<void(const QString& reason)> handler) {
        m_lost = std::move(handler);
    }

protected:
    void reportLost(const QString& reason) {
        if (m_lost)
            m_lost(reason);
    }

private:
    std::function<void(const QString&)> m_lost;
};

// Baud rate of a framing text such as "9600,N,8,1"; 0 when it has none.
int baudRateOfSettings(const QString& settings);

} // namespace kqm::platform
