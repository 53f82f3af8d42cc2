#include "main_window/opening_window.h"

#include "main_window/main_window.h"
#include "platform/messages.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace kqm::ui {

QString Opening::TitleLine() {
    return QStringLiteral("Programmable Indexer - KQM20/KQM21 Program   Version 1.65");
}

Opening::Opening(Services services, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen), m_services(services) {
    setObjectName(QStringLiteral("Opening"));
    setWindowTitle(TitleLine());

    auto* maker = new QLabel(QStringLiteral("QUORVEX MOTION"));
    QFont makerFont = maker->font();
    makerFont.setBold(true);
    makerFont.setPointSizeF(makerFont.pointSizeF() * 1.8);
    maker->setFont(makerFont);
    auto* title = new QLabel(TitleLine());
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

Opening::~Opening() = default;

void CentreOnScreen(QWidget* window) {
    const QScreen* display = window->screen();
    if (!display)
        return;
    const QRect area = display->geometry();
    window->move(area.x() + (area.width() - window->width()) / 2,
                 area.y() + (area.height() - window->height()) / 2);
}

void Opening::Form_Load() {
    adjustSize();
    CentreOnScreen(this);
    show();
    repaint();
    QApplication::processEvents(); // let the splash paint before the start-up work

    m_form1 = std::make_unique<Form1>(m_services);
    m_form1->Form_Load();
    m_form1->show();
    hide();
}

void Opening::cmdOK_Click() {
    if (m_form1) {
        m_form1->show();
        m_form1->repaint();
    }
    hide();
    cmdOK->hide();
}

void Opening::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!isMinimized() && !isMaximized())
        CentreOnScreen(this);
}

} // namespace kqm::ui
