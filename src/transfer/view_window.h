#pragma once

#include <QDialog>

class QListWidget;
class QPushButton;

namespace kqm::link {
class Link;
}
namespace kqm::platform {
class BusyCursor;
}

namespace kqm::transfer {

// The unit's own listing, as the unit sends it (branch targets as addresses).
// Each opening asks the unit anew; the main window stays usable.
class frmView final : public QDialog {
    Q_OBJECT
public:
    frmView(link::Link& link, platform::BusyCursor& cursor, QWidget* parent = nullptr);

    // Centres the window, asks the unit and lists its reply.
    void Form_Load();
    QStringList entries() const;

public slots:
    void cmdClose_Click() { close(); }

private:
    link::Link& m_link;
    platform::BusyCursor& m_cursor;
    QListWidget* List1 = nullptr;
    QPushButton* cmdClose = nullptr;
};

} // namespace kqm::transfer
