#include "link/qt_serial_port.h"

#include <QFileInfo>

namespace kqm::link {

QtSerialPort::QtSerialPort(QString device) : m_device(std::move(device)) {
    QObject::connect(&m_port, &QSerialPort::errorOccurred, &m_port,
                     [this](QSerialPort::SerialPortError error) { onError(error); });
}

QtSerialPort::~QtSerialPort() {
    if (m_port.isOpen())
        m_port.close();
}

bool QtSerialPort::open() {
    m_failure = OpenFailure::None;
    m_error.clear();
    m_port.setPortName(m_device);
    const int baud = platform::baudRateOfSettings(m_settings);
    m_port.setBaudRate(baud > 0 ? baud : 9600);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    // A line that keeps sending must not fill memory: past this, the port
    // stops reading until the link has looked (and found it flooded).
    m_port.setReadBufferSize(64 * 1024);
    if (m_port.open(QIODevice::ReadWrite))
        return true;
    m_error = m_port.errorString();
    switch (m_port.error()) {
    case QSerialPort::DeviceNotFoundError:
        m_failure = OpenFailure::NotFound;
        break;
    case QSerialPort::PermissionError: {
        // Qt reports a port held by another program the same way as a
        // missing permission; the file's access rights tell them apart.
        const QFileInfo info(m_device);
        m_failure = info.exists() && !(info.isReadable() && info.isWritable())
                        ? OpenFailure::PermissionDenied
                        : OpenFailure::Busy;
        break;
    }
    default:
        m_failure = OpenFailure::Other;
        break;
    }
    m_port.clearError();
    return false;
}

void QtSerialPort::Close() {
    if (m_port.isOpen())
        m_port.close();
}

void QtSerialPort::onError(QSerialPort::SerialPortError error) {
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError ||
        error == QSerialPort::UnsupportedOperationError || !m_port.isOpen())
        return;
    // A vanished device keeps signalling errors while the port stays open:
    // close it at once and say the unit is gone.
    const QString reason = m_port.errorString();
    m_port.close();
    m_port.clearError();
    reportLost(reason);
}

bool QtSerialPort::CTSHolding() {
    if (!m_port.isOpen())
        return false;
    const QSerialPort::PinoutSignals lines = m_port.pinoutSignals();
    if (m_port.error() == QSerialPort::UnsupportedOperationError) {
        m_port.clearError();
        return true;
    }
    return lines.testFlag(QSerialPort::ClearToSendSignal);
}

void QtSerialPort::Output(const QByteArray& data) {
    if (m_port.isOpen())
        m_port.write(data);
}

int QtSerialPort::OutBufferCount() {
    return m_port.isOpen() ? static_cast<int>(m_port.bytesToWrite()) : 0;
}

int QtSerialPort::InBufferCount() {
    if (!m_port.isOpen())
        return 0;
    // Takes in what the driver holds without yielding to the event loop.
    if (m_port.bytesAvailable() == 0)
        m_port.waitForReadyRead(0);
    return m_port.isOpen() ? static_cast<int>(m_port.bytesAvailable()) : 0;
}

QByteArray QtSerialPort::Input() {
    return m_port.isOpen() ? m_port.readAll() : QByteArray();
}

void QtSerialPort::waitForWritten(int milliseconds) {
    if (m_port.isOpen() && m_port.bytesToWrite() > 0)
        m_port.waitForBytesWritten(milliseconds);
}

} // namespace kqm::link
