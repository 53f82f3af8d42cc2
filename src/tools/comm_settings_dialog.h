#pragma once

#include "tools/comm_settings.h"

#include <QDialog>

#include <array>

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace kqm::files {
class SettingsTable;
}
namespace kqm::platform {
class Messages;
}

namespace kqm::tools {

// A serial device the user can pick for a port number.
struct DeviceChoice {
    QString device;      // what is stored: a path, COMn, or "sim"
    QString description; // what the user reads
};
// The ports the platform reports (with their descriptions) and the
// simulated unit.
QList<DeviceChoice> AvailableDevices();

// Port and baud rate, and the serial device each port number stands for.
class frmCommSettings final : public QDialog {
    Q_OBJECT
public:
    frmCommSettings(platform::Messages& messages, files::SettingsTable& settings,
                    int& comPortNumber, int& baudRate, QList<DeviceChoice> devices,
                    QWidget* parent = nullptr);

    int OldComPort = -1;
    int OldBaudRate = -1;

public slots:
    void btnOK_Click();
    void btnCancel_Click() { reject(); }

private:
    void showDeviceOf(int portIndex);
    void rememberDevice();

    platform::Messages& m_messages;
    files::SettingsTable& m_settings;
    int& m_comPortNumber;
    int& m_baudRate;
    QList<DeviceChoice> m_devices;
    std::array<QString, 4> m_storedDevice;
    std::array<QString, 4> m_chosenDevice;
    int m_shownPort = -1;

    QListWidget* lstComPorts = nullptr;
    QListWidget* lstBaudRates = nullptr;
    QComboBox* cboDevice = nullptr;
    QLabel* lblDevice = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;
};

} // namespace kqm::tools
