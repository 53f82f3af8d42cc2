#include "tools/find_units_dialog.h"

#include "link/connection.h"

#include "platform/object_names.h"
#include "platform/window_placement.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kqm::tools {

namespace {

using platform::named;

constexpr int AddressCount = link::ScanLastAxis - link::ScanFirstAxis + 1;

} // namespace

frmFindUnits::frmFindUnits(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmFindUnits"));
    setWindowTitle(QStringLiteral("Find Units"));
    setModal(true);

    lblStatus = named(new QLabel, "lblStatus");
    lblStatus->setWordWrap(true);
    // Room for the longest text, why a line could not be scanned.
    lblStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblStatus->setMinimumHeight(lblStatus->fontMetrics().lineSpacing() * 4);
    prgScan = named(new QProgressBar, "prgScan");
    prgScan->setRange(0, AddressCount);
    prgScan->setValue(0);
    prgScan->setFormat(QStringLiteral("%v of %m addresses"));

    tblUnits = named(new QTableWidget(0, 3), "tblUnits");
    tblUnits->setHorizontalHeaderLabels(
        {QStringLiteral("Axis"), QStringLiteral("Model"), QStringLiteral("Revision")});
    tblUnits->verticalHeader()->hide();
    tblUnits->horizontalHeader()->setStretchLastSection(true);
    tblUnits->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblUnits->setSelectionMode(QAbstractItemView::SingleSelection);
    tblUnits->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblUnits->setMinimumHeight(tblUnits->verticalHeader()->defaultSectionSize() * 8);

    cmdScan = named(new QPushButton(QStringLiteral("&Scan Again")), "cmdScan");
    cmdStop = named(new QPushButton(QStringLiteral("S&top")), "cmdStop");
    cmdUseAxis = named(new QPushButton(QStringLiteral("&Use Axis")), "cmdUseAxis");
    cmdUseAxis->setDefault(true);
    cmdClose = named(new QPushButton(QStringLiteral("&Close")), "cmdClose");
    cmdStopMotion = named(new QPushButton(QStringLiteral("Stop Motion (F12)")), "cmdStopMotion");

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdScan);
    buttons->addWidget(cmdStop);
    buttons->addStretch();
    buttons->addWidget(cmdUseAxis);
    buttons->addWidget(cmdClose);
    buttons->addWidget(cmdStopMotion);
    auto* layout = new QVBoxLayout(this);
    auto* about = new QLabel(QStringLiteral("Each axis address from 0 to 31 is asked for its "
                                            "version; units that are running go on running."));
    about->setWordWrap(true);
    layout->addWidget(about);
    layout->addWidget(prgScan);
    layout->addWidget(tblUnits, 1);
    layout->addWidget(lblStatus);
    layout->addLayout(buttons);

    connect(cmdScan, &QPushButton::clicked, this, &frmFindUnits::cmdScan_Click);
    connect(cmdStop, &QPushButton::clicked, this, &frmFindUnits::stopRequested);
    connect(cmdStopMotion, &QPushButton::clicked, this, &frmFindUnits::stopMotionRequested);
    connect(cmdUseAxis, &QPushButton::clicked, this, &frmFindUnits::cmdUseAxis_Click);
    connect(cmdClose, &QPushButton::clicked, this, &frmFindUnits::reject);
    connect(tblUnits, &QTableWidget::itemSelectionChanged, this, &frmFindUnits::enableButtons);
    connect(tblUnits, &QTableWidget::cellDoubleClicked, this, &frmFindUnits::cmdUseAxis_Click);
    enableButtons();
    resize(420, 360);
    platform::centreOnScreen(this);
}

void frmFindUnits::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    // Once the dialog is on the screen, so that the scan shows as it goes.
    QMetaObject::invokeMethod(this, &frmFindUnits::cmdScan_Click, Qt::QueuedConnection);
}

void frmFindUnits::cmdScan_Click() {
    if (!m_scanning)
        emit scanRequested();
}

void frmFindUnits::scanStarted() {
    m_scanning = true;
    tblUnits->setRowCount(0);
    prgScan->setValue(0);
    lblStatus->setText(QStringLiteral("Asking axis %1...").arg(link::ScanFirstAxis));
    enableButtons();
}

void frmFindUnits::showAsked(int axis, const link::FoundUnit* found) {
    prgScan->setValue(axis - link::ScanFirstAxis + 1);
    if (axis < link::ScanLastAxis)
        lblStatus->setText(QStringLiteral("Asking axis %1...").arg(axis + 1));
    if (!found)
        return;
    const int row = tblUnits->rowCount();
    tblUnits->insertRow(row);
    const QString texts[3] = {QString::number(found->axis), found->model, found->revision};
    for (int column = 0; column < 3; ++column) {
        auto* item = new QTableWidgetItem(texts[column]);
        if (found->leftStoring)
            item->setToolTip(link::leftStoringMessage(QString::number(found->axis)));
        tblUnits->setItem(row, column, item);
    }
}

void frmFindUnits::scanEnded(const link::ScanResult& result) {
    m_scanning = false;
    const auto count = result.units.size();
    QString text = count == 0   ? QStringLiteral("No unit answered. Check the cables, the power, "
                                                   "the port and its baud rate.")
                   : count == 1 ? QStringLiteral("1 unit answered. Use Axis makes it the axis "
                                                 "that the commands go to.")
                                : QStringLiteral("%1 units answered. Choose one: Use Axis makes "
                                                 "it the axis that the commands go to.")
                                      .arg(count);
    if (!result.completed) {
        text = result.failure.isEmpty() ? QStringLiteral("Stopped after %1 of %2 addresses. ")
                                                  .arg(prgScan->value())
                                                  .arg(AddressCount) +
                                              text
                                        : result.failure;
    }
    for (const link::FoundUnit& unit : result.units) {
        if (unit.leftStoring)
            text += QLatin1Char(' ') + link::leftStoringMessage(QString::number(unit.axis));
    }
    lblStatus->setText(text);
    if (count > 0 && tblUnits->selectedItems().isEmpty())
        tblUnits->selectRow(0);
    enableButtons();
}

void frmFindUnits::scanRefused(const QString& why) {
    m_scanning = false;
    lblStatus->setText(why);
    enableButtons();
}

int frmFindUnits::selectedAxis() const {
    const QList<QTableWidgetItem*> selected = tblUnits->selectedItems();
    if (selected.isEmpty())
        return -1;
    return tblUnits->item(selected.first()->row(), 0)->text().toInt();
}

void frmFindUnits::cmdUseAxis_Click() {
    if (m_scanning || selectedAxis() < 0)
        return;
    m_chosenAxis = selectedAxis();
    accept();
}

void frmFindUnits::reject() {
    // The scan ends at its next address; the dialog need not wait for it.
    if (m_scanning)
        emit stopRequested();
    QDialog::reject();
}

void frmFindUnits::enableButtons() {
    cmdScan->setEnabled(!m_scanning);
    cmdStop->setEnabled(m_scanning);
    cmdUseAxis->setEnabled(!m_scanning && selectedAxis() >= 0);
}

} // namespace kqm::tools
