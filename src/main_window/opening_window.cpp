#include "main_window/opening_window.h"

#include "main_window/main_window.h"
#include "platform/window_placement.h"
#include "version.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kqm::ui {

QString Opening::titleLine() {
    return QStringLiteral("Programmable Indexer - KQM20/KQM21 Program   Version " KQM_VERSION);
}

Opening::Opening(QWidget* parent) : QWidget(parent, Qt::SplashScreen) {
    setObjectName(QStringLiteral("Opening"));
    setWindowTitle(titleLine());

    auto* maker = new QLabel(QStringLiteral("QUORVEX MOTION"));
    QFont makerFont = maker->font();
    makerFont.setBold(true);
    makerFont.setPointSizeF(makerFont.pointSizeF() * 1.8);
    maker->setFont(makerFont);
    auto* title = new QLabel(titleLine());
    title->setObjectName(QStringLiteral("lblTitle"));
    auto* identification =
        new QLabel(QStringLiteral("Stepper motor indexers KQM20 and KQM21\nSerial programming "
                                  "and motion control"));
    cmdOK = new QPushButton(QStringLiteral("OK"));
    cmdOK->setObjectName(QStringLiteral("cmdOK"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 24, 32, 24);
    for (QLabel* line : {maker, title, identification}) {
        line->setAlignment(Qt::AlignCenter);
        layout->addWidget(line);
    }
    layout->addWidget(cmdOK, 0, Qt::AlignCenter);
    setStyleSheet(QStringLiteral("Opening { border: 2px solid palette(dark); }"));

    connect(cmdOK, &QPushButton::clicked, this, &Opening::cmdOK_Click);
}

void Opening::Form_Load() {
    adjustSize();
    platform::centreOnScreen(this);
    show();
    repaint();
    QApplication::processEvents(); // let the splash paint before the start-up work
}

void startUp(Opening& splash, Form1& form) {
    splash.Form_Load();
    splash.setMainWindow(&form);
    form.Form_Load();
    form.show();
    splash.hide();
}

void Opening::cmdOK_Click() {
    if (m_mainWindow) {
        m_mainWindow->show();
        m_mainWindow->repaint();
    }
    hide();
    cmdOK->hide();
}

void Opening::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!isMinimized() && !isMaximized())
        platform::centreOnScreen(this);
}

} // namespace kqm::ui
