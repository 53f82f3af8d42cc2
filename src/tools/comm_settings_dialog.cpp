#include "tools/comm_settings_dialog.h"

#include "link/device_port.h"
#include "platform/window_placement.h"
#include "transfer/pace_policy.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include <algorithm>

namespace kqm::tools {

frmCommSettings::frmCommSettings(int comPortNumber, int baudRate,
                                 const std::array<QString, 4>& storedDevices,
                                 QList<link::DeviceChoice> devices, QWidget* parent)
    : QDialog(parent), m_devices(std::move(devices)), m_chosenDevice(storedDevices) {
    setObjectName(QStringLiteral("frmCommSettings"));
    setWindowTitle(QStringLiteral("Communication Settings"));
    setModal(true);

    lstComPorts = new QListWidget;
    lstComPorts->setObjectName(QStringLiteral("lstComPorts"));
    lstComPorts->addItems(comPortEntries());
    lstBaudRates = new QListWidget;
    lstBaudRates->setObjectName(QStringLiteral("lstBaudRates"));
    lstBaudRates->addItems(baudRateEntries());
    for (QListWidget* list : {lstComPorts, lstBaudRates}) {
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setMaximumHeight(list->sizeHintForRow(0) * 7);
    }

    cboDevice = new QComboBox;
    cboDevice->setObjectName(QStringLiteral("cboDevice"));
    cboDevice->setEditable(true); // a device path can be typed
    cboDevice->setInsertPolicy(QComboBox::NoInsert);
    // The bare device where the system gives it no description.
    for (const link::DeviceChoice& choice : m_devices)
        cboDevice->addItem(choice.description.trimmed().isEmpty()
                               ? choice.device
                               : QStringLiteral("%1 - %2").arg(choice.device, choice.description),
                           choice.device);
    lblDevice = new QLabel(QStringLiteral("Device:"));
    lblDevice->setObjectName(QStringLiteral("lblDevice"));

    cboSendPace = new QComboBox;
    cboSendPace->setObjectName(QStringLiteral("cboSendPace"));
    cboSendPace->addItems(paceEntries());
    lblSendPace = new QLabel(QStringLiteral("Send pace:"));
    lblSendPace->setObjectName(QStringLiteral("lblSendPace"));

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
    auto* pace = new QHBoxLayout;
    pace->addWidget(lblSendPace);
    pace->addWidget(cboSendPace, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(device);
    layout->addLayout(pace);
    layout->addLayout(buttons);

    // Opening: select what is stored; a value without an entry selects none.
    const int portIndex = portIndexFor(comPortNumber);
    const int baudIndex = baudIndexFor(baudRate);
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
    connect(lstBaudRates, &QListWidget::currentRowChanged, this, [this] { offerPaces(); });
    connect(btnOK, &QPushButton::clicked, this, &frmCommSettings::btnOK_Click);
    connect(btnCancel, &QPushButton::clicked, this, &frmCommSettings::btnCancel_Click);
    adjustSize();
    platform::centreOnScreen(this);
}

void frmCommSettings::showDeviceOf(int portIndex) {
    m_shownPort = portIndex;
    cboDevice->setEnabled(portIndex >= 0);
    cboSendPace->setEnabled(portIndex >= 0);
    if (portIndex < 0) {
        lblDevice->setText(QStringLiteral("Device:"));
        cboDevice->setCurrentIndex(-1);
        cboDevice->setEditText(QString());
        return;
    }
    lblDevice->setText(QStringLiteral("Device of COM %1:").arg(portIndex + 1));
    lblSendPace->setText(QStringLiteral("Send pace of COM %1:").arg(portIndex + 1));
    cboSendPace->setCurrentIndex(
        std::max<int>(0, transfer::usualPaces().indexOf(m_chosenPace[portIndex])));
    offerPaces();
    const QString device = m_chosenDevice[portIndex];
    const int known = cboDevice->findData(device);
    if (known >= 0)
        cboDevice->setCurrentIndex(known);
    else
        cboDevice->setEditText(device);
}

void frmCommSettings::offerPaces() {
    // Only the paces the line can carry at the chosen baud rate.
    const int baud = baudRateAt(lstBaudRates->currentRow());
    auto* model = qobject_cast<QStandardItemModel*>(cboSendPace->model());
    const QList<double> carried = transfer::pacesFor(baud);
    for (int i = 0; model && i < transfer::usualPaces().size(); ++i)
        model->item(i)->setEnabled(baud <= 0 || carried.contains(transfer::usualPaces().at(i)));
    if (model && !model->item(std::max(0, cboSendPace->currentIndex()))->isEnabled())
        cboSendPace->setCurrentIndex(0);
}

void frmCommSettings::setPaces(const std::array<double, 4>& paces) {
    m_chosenPace = paces;
    showDeviceOf(m_shownPort);
}

void frmCommSettings::rememberDevice() {
    if (m_shownPort < 0)
        return;
    m_chosenPace[m_shownPort] =
        transfer::usualPaces().value(cboSendPace->currentIndex(), transfer::SurePace);
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
    m_choice = {chosen, {OldComPort, OldBaudRate}, m_chosenDevice, m_chosenPace};
    accept();
}

} // namespace kqm::tools
