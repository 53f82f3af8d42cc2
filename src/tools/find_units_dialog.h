#pragma once

#include "link/unit_scan.h"

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace kqm::tools {

// Setup > Find Units: which axis addresses answer on the line, and taking
// one of them as the axis. The scan runs in the link; the dialog asks for it
// (scanRequested, at once when it first shows and on Scan), shows its
// progress and the units that answer, and hands back the chosen axis when
// accepted.
class frmFindUnits final : public QDialog {
    Q_OBJECT
public:
    explicit frmFindUnits(QWidget* parent = nullptr);

    // The axis of the row chosen with Use Axis; -1 until then.
    int chosenAxis() const { return m_chosenAxis; }
    bool scanning() const { return m_scanning; }

public slots:
    void scanStarted();
    void showAsked(int axis, const link::FoundUnit* found);
    void scanEnded(const link::ScanResult& result);
    // The port could not be opened (or the line is busy): nothing was asked.
    void scanRefused(const QString& why);
    void cmdScan_Click();
    void cmdUseAxis_Click();
    void reject() override;

signals:
    void scanRequested();
    void stopRequested();
    // Stop Motion, for the unit that is connected: never held back by the scan.
    void stopMotionRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void enableButtons();
    int selectedAxis() const;

    bool m_scanning = false;
    bool m_shownOnce = false;
    int m_chosenAxis = -1;

    QLabel* lblStatus = nullptr;
    QProgressBar* prgScan = nullptr;
    QTableWidget* tblUnits = nullptr;
    QPushButton* cmdScan = nullptr;
    QPushButton* cmdStop = nullptr;
    QPushButton* cmdStopMotion = nullptr;
    QPushButton* cmdUseAxis = nullptr;
    QPushButton* cmdClose = nullptr;
};

} // namespace kqm::tools
