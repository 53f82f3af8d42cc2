#pragma once

#include <QDialog>

class QListWidget;
class QPushButton;

namespace kqm::transfer {

struct UnitListing;

// The unit's own listing, as the unit sends it (branch targets as addresses).
// Each opening asks the unit anew; the main window stays usable.
class frmView final : public QDialog {
    Q_OBJECT
public:
    explicit frmView(QWidget* parent = nullptr);

    // Lists what the unit sent: its lines, then "Q" when it came.
    void showListing(const UnitListing& listing);
    QStringList entries() const;

public slots:
    void cmdClose_Click() { close(); }

signals:
    // Stop Motion, while the listing is read and after: never held back.
    void stopMotionRequested();

private:
    QListWidget* List1 = nullptr; // the lines of the unit's listing
    QPushButton* cmdClose = nullptr;
    QPushButton* cmdStopMotion = nullptr;
};

} // namespace kqm::transfer
