#pragma once

#include "transfer/unit_backup.h"

#include <QDialog>
#include <QVector>

class QLabel;
class QPushButton;
class QTableWidget;

namespace kqm::transfer {

// File > Unit Backups: the programs kept before sends replaced them, newest
// first (date, axis, model, lines, bytes). One can be opened as the program
// or sent back to the unit; the window does either.
class frmUnitBackups final : public QDialog {
    Q_OBJECT
public:
    frmUnitBackups(QVector<UnitBackup> backups, const QString& folder, QWidget* parent = nullptr);

    std::optional<UnitBackup> selectedBackup() const;

signals:
    void openRequested(const kqm::transfer::UnitBackup& backup);
    void sendRequested(const kqm::transfer::UnitBackup& backup);

private:
    void showSelection();

    QVector<UnitBackup> m_backups;
    QTableWidget* tblBackups = nullptr;
    QLabel* lblBackupFolder = nullptr;
    QPushButton* cmdOpenBackup = nullptr;
    QPushButton* cmdSendBackup = nullptr;
    QPushButton* cmdClose = nullptr;
};

} // namespace kqm::transfer
