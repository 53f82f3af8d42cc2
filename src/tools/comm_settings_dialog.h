#pragma once

#include "link/device_port.h"
#include "tools/comm_settings.h"
#include "transfer/pace_policy.h"

#include <QDialog>

#include <array>

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace kqm::tools {

// Port and baud rate, and the serial device each port number stands for.
// It opens on the current values and hands back what the user chose; the
// caller stores it.
class frmCommSettings final : public QDialog {
    Q_OBJECT
public:
    frmCommSettings(int comPortNumber, int baudRate, const std::array<QString, 4>& storedDevices,
                    QList<link::DeviceChoice> devices, QWidget* parent = nullptr);

    int OldComPort = -1;
    int OldBaudRate = -1;

    // The send pace of each port the dialog opens with.
    void setPaces(const std::array<double, 4>& paces);
    // Disables the paces too fast for the chosen baud rate.
    void offerPaces();

    // What OK chose; only meaningful when the dialog was accepted.
    CommSettingsChoice choice() const { return m_choice; }

public slots:
    void btnOK_Click();
    void btnCancel_Click() { reject(); }

private:
    void showDeviceOf(int portIndex);
    void rememberDevice();

    QList<link::DeviceChoice> m_devices;
    std::array<QString, 4> m_chosenDevice;
    std::array<double, 4> m_chosenPace{transfer::SurePace, transfer::SurePace, transfer::SurePace,
                                       transfer::SurePace};
    CommSettingsChoice m_choice;
    int m_shownPort = -1;

    QListWidget* lstComPorts = nullptr;
    QListWidget* lstBaudRates = nullptr;
    QComboBox* cboDevice = nullptr;
    QLabel* lblDevice = nullptr;
    QComboBox* cboSendPace = nullptr;
    QLabel* lblSendPace = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;
};

} // namespace kqm::tools
