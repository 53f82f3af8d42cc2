#include "main_window/unit_status.h"

#include "link/terminal.h"
#include "main_window/session.h"
#include "main_window/unit_actions.h"
#include "platform/messages.h"
#include "platform/object_names.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kqm::ui {

using platform::named;

UnitStatus::UnitStatus(Session& session, UnitActions& unit, QObject* parent)
    : QObject(parent), m_session(session), m_unit(unit),
      lblConnected(named(new QLabel, QStringLiteral("lblConnected"))),
      fraHint(named(new QFrame, QStringLiteral("fraHint"))),
      lblHint(named(new QLabel, QStringLiteral("lblHint"))),
      cmdDismissHint(
          named(new QPushButton(QStringLiteral("Dismiss")), QStringLiteral("cmdDismissHint"))),
      txtTerminal(named(new QPlainTextEdit, QStringLiteral("txtTerminal"))),
      cmdClear(named(new QPushButton(QStringLiteral("Clear")), QStringLiteral("cmdClear"))),
      txtDebug(named(new QPlainTextEdit, QStringLiteral("txtDebug"))),
      cmdDebugClear(
          named(new QPushButton(QStringLiteral("Clear")), QStringLiteral("cmdDebugClear"))),
      m_terminalTab(paneTab(txtTerminal, cmdClear)), m_debugTab(paneTab(txtDebug, cmdDebugClear)) {
    QFont connectedFont = lblConnected->font();
    connectedFont.setBold(true);
    lblConnected->setFont(connectedFont);
    fraHint->setFrameShape(QFrame::StyledPanel);
    lblHint->setWordWrap(true);
    lblHint->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* hintRow = new QHBoxLayout(fraHint);
    hintRow->addWidget(lblHint, 1);
    hintRow->addWidget(cmdDismissHint, 0, Qt::AlignTop);
    fraHint->hide();
    txtDebug->setReadOnly(true);
    // With the echo on, the position poll alone adds lines all day long.
    txtDebug->setMaximumBlockCount(10000);
    showConnectionStatus(false);

    connect(cmdDismissHint, &QPushButton::clicked, fraHint, &QWidget::hide);
    connect(cmdClear, &QPushButton::clicked, this, [this] {
        txtTerminal->clear();
        txtTerminal->setFocus();
    });
    connect(cmdDebugClear, &QPushButton::clicked, this, [this] {
        txtDebug->clear();
        txtDebug->setFocus();
    });
    connect(&session.link, &link::Link::connectionStatusChanged, this,
            &UnitStatus::showConnectionStatus);
    connect(&session.link, &link::Link::debugEcho, this, &UnitStatus::appendDebug);
    txtTerminal->installEventFilter(this);
}

QWidget* UnitStatus::paneTab(QPlainTextEdit* pane, QPushButton* clear) {
    auto* tab = new QWidget;
    auto* layout = new QVBoxLayout(tab);
    layout->addWidget(pane, 1);
    layout->addWidget(clear, 0, Qt::AlignLeft);
    return tab;
}

void UnitStatus::showConnectionStatus(bool connected) {
    const link::LinkState& state = m_session.linkState();
    const QString port = QStringLiteral("COM %1").arg(state.ComPortNumber);
    const QString device = m_session.link.deviceName();
    QString caption = connected ? QStringLiteral("The Unit is Connected")
                                : QStringLiteral("The Unit is NOT Connected");
    // Which unit, where; nobody should take the simulated unit for a machine.
    if (connected && m_session.link.isSimulated())
        caption += QStringLiteral(" (simulated unit, %1 on axis %2, %3)")
                       .arg(state.UnitModel, state.AxisAddress, port);
    else if (connected)
        caption += QStringLiteral(" (%1 on axis %2, %3: %4)")
                       .arg(state.UnitModel, state.AxisAddress, port, device);
    lblConnected->setText(caption);
    lblConnected->setStyleSheet(connected ? QStringLiteral("color: rgb(0, 0, 255);")
                                          : QStringLiteral("color: rgb(255, 0, 0);"));
    // A connection the user ended is no failure to report.
    if (connected || m_session.link.isSimulated() || device.isEmpty() ||
        state.LastCommError.isEmpty()) {
        fraHint->hide();
        return;
    }
    if (m_session.link.flooded()) {
        showHint(m_session.link.lostReason());
        return;
    }
    const bool notOpened = state.LastCommError.startsWith(QLatin1String("Error Opening Com Port"));
    showHint((notOpened ? QStringLiteral("%1 (%2) could not be opened.")
                        : QStringLiteral("No unit answered on %1 (%2)."))
                 .arg(port, device) +
             QStringLiteral(" To try the tool without a unit: Setup > Communication Settings, "
                            "device sim (the simulated unit), then Connect."));
}

void UnitStatus::showHint(const QString& text) {
    lblHint->setText(text);
    fraHint->show();
}

void UnitStatus::focusTerminal() {
    txtTerminal->setFocus();
}

void UnitStatus::appendDebug(const QString& text) {
    QTextCursor end = txtDebug->textCursor();
    end.movePosition(QTextCursor::End);
    end.insertText(text);
}

void UnitStatus::txtTerminal_KeyPress(const QString& text) {
    if (!m_session.link.isPortOpen()) {
        m_session.services.messages.show(
            platform::MessageIcon::Information,
            QStringLiteral("The Com Port is not Open!  Use Connect on the Setup menu to reach the "
                           "unit."));
    } else if (!m_session.link.exchanges().refuseWhenBusy()) {
        // Whoever types to the unit drives it by hand: a position query
        // must not land inside a half-typed frame.
        m_unit.stopFollowingPosition();
        m_session.link.TransmitTerminalText(text.toUpper());
    }
    const QString trimmed = link::trimTerminalText(txtTerminal->toPlainText());
    if (trimmed.size() != txtTerminal->toPlainText().size())
        txtTerminal->setPlainText(trimmed);
    txtTerminal->moveCursor(QTextCursor::End);
    txtTerminal->setFocus();
}

bool UnitStatus::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtTerminal && event->type() == QEvent::KeyPress) {
        const QString text = static_cast<QKeyEvent*>(event)->text();
        if (!text.isEmpty() && (text.at(0).isPrint() || text.at(0) == QLatin1Char('\r')))
            txtTerminal_KeyPress(text);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace kqm::ui
