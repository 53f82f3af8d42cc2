#include "transfer/unit_backups_dialog.h"

#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kqm::transfer {

frmUnitBackups::frmUnitBackups(QVector<UnitBackup> backups, const QString& folder, QWidget* parent)
    : QDialog(parent), m_backups(std::move(backups)) {
    setObjectName(QStringLiteral("frmUnitBackups"));
    setWindowTitle(QStringLiteral("Unit Backups"));
    tblBackups = new QTableWidget(static_cast<int>(m_backups.size()), 6);
    tblBackups->setObjectName(QStringLiteral("tblBackups"));
    tblBackups->setHorizontalHeaderLabels({QStringLiteral("Date"), QStringLiteral("Device"),
                                           QStringLiteral("Axis"), QStringLiteral("Model"),
                                           QStringLiteral("Lines"),
                                           QStringLiteral("Bytes")});
    tblBackups->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblBackups->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblBackups->setSelectionMode(QAbstractItemView::SingleSelection);
    tblBackups->verticalHeader()->hide();
    for (int row = 0; row < m_backups.size(); ++row) {
        const UnitBackup& backup = m_backups.at(row);
        const bool program = backup.state == UnitBackup::State::Program;
        // Backups taken before the device was recorded have none.
        const QString device = backup.device.isEmpty() ? QStringLiteral("-") : backup.device;
        const QStringList cells = {backup.taken.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                   device, QString::number(backup.axis), backup.model,
                                   program ? QString::number(backup.lines)
                                           : stateText(backup.state),
                                   program ? QString::number(backup.bytes) : QString()};
        for (int column = 0; column < cells.size(); ++column)
            tblBackups->setItem(row, column, new QTableWidgetItem(cells.at(column)));
    }
    tblBackups->resizeColumnsToContents();
    tblBackups->horizontalHeader()->setStretchLastSection(true);

    lblBackupFolder = new QLabel(
        m_backups.isEmpty()
            ? QStringLiteral("No unit backups yet: one is kept before each send replaces the "
                             "unit's program. They are kept in %1.")
                  .arg(QDir::toNativeSeparators(folder))
            : QStringLiteral("The last %1 per axis are kept, in %2.")
                  .arg(BackupsKept)
                  .arg(QDir::toNativeSeparators(folder)));
    lblBackupFolder->setObjectName(QStringLiteral("lblBackupFolder"));
    lblBackupFolder->setWordWrap(true);
    lblBackupFolder->setTextInteractionFlags(Qt::TextSelectableByMouse);

    cmdOpenBackup = new QPushButton(QStringLiteral("&Open as Program"));
    cmdOpenBackup->setObjectName(QStringLiteral("cmdOpenBackup"));
    cmdSendBackup = new QPushButton(QStringLiteral("&Send to Unit..."));
    cmdSendBackup->setObjectName(QStringLiteral("cmdSendBackup"));
    cmdClose = new QPushButton(QStringLiteral("Close"));
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdOpenBackup);
    buttons->addWidget(cmdSendBackup);
    buttons->addStretch();
    buttons->addWidget(cmdClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tblBackups, 1);
    layout->addWidget(lblBackupFolder);
    layout->addLayout(buttons);
    resize(560, 380);

    connect(tblBackups, &QTableWidget::itemSelectionChanged, this, &frmUnitBackups::showSelection);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(cmdOpenBackup, &QPushButton::clicked, this, [this] {
        if (const auto backup = selectedBackup()) {
            accept();
            emit openRequested(*backup);
        }
    });
    connect(cmdSendBackup, &QPushButton::clicked, this, [this] {
        if (const auto backup = selectedBackup()) {
            accept();
            emit sendRequested(*backup);
        }
    });
    if (!m_backups.isEmpty())
        tblBackups->selectRow(0);
    showSelection();
}

std::optional<UnitBackup> frmUnitBackups::selectedBackup() const {
    const QList<QTableWidgetSelectionRange> ranges = tblBackups->selectedRanges();
    if (ranges.isEmpty())
        return std::nullopt;
    const UnitBackup& backup = m_backups.at(ranges.first().topRow());
    if (backup.state != UnitBackup::State::Program)
        return std::nullopt;
    return backup;
}

void frmUnitBackups::showSelection() {
    // A unit that held no program, or a corrupted one, left nothing to open.
    const bool program = selectedBackup().has_value();
    cmdOpenBackup->setEnabled(program);
    cmdSendBackup->setEnabled(program);
}

} // namespace kqm::transfer
