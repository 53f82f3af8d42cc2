#include "tools/comm_settings_dialog.h"

#include "files/settings_table.h"
#include "link/device_port.h"
#include "platform/messages.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSerialPortInfo>
#include <QVBoxLayout>

namespace kqm::tools {

QList<DeviceChoice> AvailableDevices() {
    QList<DeviceChoice> devices;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports) {
        QString description = info.description();
        if (!info.manufacturer().isEmpty() && !description.contains(info.manufacturer()))
            description += QStringLiteral(" (%1)").arg(info.manufacturer());
        devices.push_back({info.systemLocation(), description});
    }
    devices.push_back(
        {link::SimulatedDevice, QStringLiteral("Simulated unit (for trying the tool)")});
    return devices;
}

frmCommSettings::frmCommSettings(platform::Messages& messages, files::SettingsTable& settings,
                                 int& comPortNumber, int& baudRate, QList<DeviceChoice> devices,
                                 QWidget* parent)
    : QDialog(parent), m_messages(messages), m_settings(settings), m_comPortNumber(comPortNumber),
      m_baudRate(baudRate), m_devices(std::move(devices)) {
    setObjectName(QStringLiteral("frmCommSettings"));
    setWindowTitle(QStringLiteral("Communication Settings"));
    setModal(true);

    lstComPorts = new QListWidget;
    lstComPorts->setObjectName(QStringLiteral("lstComPorts"));
    lstComPorts->addItems(ComPortEntries());
    lstBaudRates = new QListWidget;
    lstBaudRates->setObjectName(QStringLiteral("lstBaudRates"));
    lstBaudRates->addItems(BaudRateEntries());
    for (QListWidget* list : {lstComPorts, lstBaudRates}) {
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setMaximumHeight(list->sizeHintForRow(0) * 7);
    }

    cboDevice = new QComboBox;
    cboDevice->setObjectName(QStringLiteral("cboDevice"));
    cboDevice->setEditable(true); // a device path can be typed
    cboDevice->setInsertPolicy(QComboBox::NoInsert);
    for (const DeviceChoice& choice : m_devices)
        cboDevice->addItem(QStringLiteral("%1 - %2").arg(choice.device, choice.description),
                           choice.device);
    lblDevice = new QLabel(QStringLiteral("Device:"));
    lblDevice->setObjectName(QStringLiteral("lblDevice"));

    btnOK = new QPushButton(QStringLiteral("OK"));
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("&Cancel"));
    btnCancel->setObjectName(QStringLiteral("btnCancel"));

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Com Port:")), 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("Baud Rate:")), 0, 1);
    grid->addWidget(lstComPorts, 1, 0);
    grid->addWidget(lstBaudRates, 1, 1);
    auto* device = new QHBoxLayout;
    device->addWidget(lblDevice);
    device->addWidget(cboDevice, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(device);
    layout->addLayout(buttons);

    for (int port = 0; port < 4; ++port) {
        m_storedDevice[port] = link::PortDevice(m_settings, port + 1);
        m_chosenDevice[port] = m_storedDevice[port];
    }

    // Opening: select what is stored; a value without an entry selects none.
    const int portIndex = PortIndexFor(m_comPortNumber);
    const int baudIndex = BaudIndexFor(m_baudRate);
    if (portIndex >= 0)
        lstComPorts->setCurrentRow(portIndex);
    if (baudIndex >= 0)
        lstBaudRates->setCurrentRow(baudIndex);
    OldComPort = portIndex;
    OldBaudRate = baudIndex;
    showDeviceOf(portIndex);

    connect(lstComPorts, &QListWidget::currentRowChanged, this, [this](int row) {
        rememberDevice();
        showDeviceOf(row);
    });
    connect(btnOK, &QPushButton::clicked, this, &frmCommSettings::btnOK_Click);
    connect(btnCancel, &QPushButton::clicked, this, &frmCommSettings::btnCancel_Click);
    adjustSize();
    if (const QScreen* display = screen()) {
        const QRect area = display->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
}

void frmCommSettings::showDeviceOf(int portIndex) {
    m_shownPort = portIndex;
    cboDevice->setEnabled(portIndex >= 0);
    if (portIndex < 0) {
        lblDevice->setText(QStringLiteral("Device:"));
        cboDevice->setCurrentIndex(-1);
        cboDevice->setEditText(QString());
        return;
    }
    lblDevice->setText(QStringLiteral("Device of COM %1:").arg(portIndex + 1));
    const QString device = m_chosenDevice[portIndex];
    const int known = cboDevice->findData(device);
    if (known >= 0)
        cboDevice->setCurrentIndex(known);
    else
        cboDevice->setEditText(device);
}

void frmCommSettings::rememberDevice() {
    if (m_shownPort < 0)
        return;
    const int index = cboDevice->findText(cboDevice->currentText());
    m_chosenDevice[m_shownPort] =
        index >= 0 ? cboDevice->itemData(index).toString() : cboDevice->currentText().trimmed();
}

void frmCommSettings::btnOK_Click() {
    rememberDevice();
    CommChoice chosen{lstComPorts->currentRow(), lstBaudRates->currentRow()};
    if (lstComPorts->selectedItems().isEmpty())
        chosen.portIndex = -1;
    if (lstBaudRates->selectedItems().isEmpty())
        chosen.baudIndex = -1;
    QString error;
    bool changed = ApplyCommSettings(chosen, {OldComPort, OldBaudRate}, m_comPortNumber, m_baudRate,
                                     m_settings, &error);
    for (int port = 0; port < 4; ++port) {
        if (m_chosenDevice[port] == m_storedDevice[port])
            continue;
        if (m_settings.setPortDevice(port + 1, m_chosenDevice[port]))
            changed = true;
        else
            error = m_settings.lastError();
    }
    if (!error.isEmpty()) {
        m_messages.show(platform::MessageIcon::Warning,
                        QStringLiteral("The settings could not be stored (%1).").arg(error));
    } else if (changed) {
        m_messages.show(platform::MessageIcon::Information, SettingsChangedMessage);
    }
    accept();
}

} // namespace kqm::tools
