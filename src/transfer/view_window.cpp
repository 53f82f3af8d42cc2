#include "transfer/view_window.h"

#include "transfer/view.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace kqm::transfer {

frmView::frmView(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmView"));
    setWindowTitle(QStringLiteral("View Program"));
    setAttribute(Qt::WA_DeleteOnClose);
    List1 = new QListWidget;
    List1->setObjectName(QStringLiteral("List1"));
    QFont fixed = List1->font();
    fixed.setFamily(QStringLiteral("monospace"));
    fixed.setStyleHint(QFont::TypeWriter);
    List1->setFont(fixed);
    auto* note = new QLabel(QStringLiteral(
        "Note: Branching destinations are shown in terms of addresses, not line numbers."));
    note->setObjectName(QStringLiteral("Label1"));
    note->setWordWrap(true);
    cmdClose = new QPushButton(QStringLiteral("Close"));
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(List1, 1);
    layout->addWidget(note);
    cmdStopMotion = new QPushButton(QStringLiteral("Stop Motion (F12)"));
    cmdStopMotion->setObjectName(QStringLiteral("cmdStopMotion"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdStopMotion);
    buttons->addStretch();
    buttons->addWidget(cmdClose);
    layout->addLayout(buttons);
    resize(380, 460);
    connect(cmdClose, &QPushButton::clicked, this, &frmView::cmdClose_Click);
    connect(cmdStopMotion, &QPushButton::clicked, this, &frmView::stopMotionRequested);
}

void frmView::showListing(const UnitListing& listing) {
    List1->addItems(listing.lines);
    if (listing.endedWithQ)
        List1->addItem(QStringLiteral("Q"));
}

QStringList frmView::entries() const {
    QStringList items;
    for (int i = 0; i < List1->count(); ++i)
        items << List1->item(i)->text();
    return items;
}

} // namespace kqm::transfer
