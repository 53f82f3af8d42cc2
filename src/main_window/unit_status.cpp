#include "main_window/main_window.h"

#include "files/listing_printer.h"
#include "files/printed_listing.h"
#include "files/program_files.h"
#include "link/device_port.h"
#include "main_window/desktop_memory.h"
#include "main_window/find_units.h"
#include "main_window/motion_tab.h"
#include "main_window/program_tab.h"
#include "main_window/stop_key.h"
#include "platform/app_paths.h"
#include "platform/busy_cursor.h"
#include "platform/messages.h"
#include "platform/window_placement.h"
#include "tools/calculator_window.h"
#include "version.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

// What the window shows of the unit and the line: the connection label and
// status line, the Axis menu's check, the Terminal and the Debug pane.

namespace kqm::ui {

using platform::MessageIcon;

void Form1::showConnectionStatus(bool connected) {
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

void Form1::showHint(const QString& text) {
    lblHint->setText(text);
    fraHint->show();
}

void Form1::checkAxisItem(int index) {
    for (int axis = 0; axis < mnuAxisNum.size(); ++axis)
        mnuAxisNum.at(axis)->setChecked(axis == index);
    const QString axis = m_session.linkState().AxisAddress;
    m_motionTab->setAxis(axis);
    m_programTab->setAxis(axis);
    showTravelLimits();
}

void Form1::appendDebug(const QString& text) {
    QTextCursor end = txtDebug->textCursor();
    end.movePosition(QTextCursor::End);
    end.insertText(text);
}

void Form1::SSTab2_Click(int tab) {
    m_debugCounter.tabChosen(tab);
    // During another exchange the readout is skipped rather than refused.
    if (tab == MotionTabIndex && m_session.linkState().UnitConnected && !m_session.link.isBusy())
        m_unit.cmdVerifyParameters_Click();
    if (tab == TerminalTabIndex)
        txtTerminal->setFocus();
}

void Form1::txtTerminal_KeyPress(const QString& text) {
    if (!m_session.link.isPortOpen()) {
        m_services.messages.show(MessageIcon::Information,
                                 QStringLiteral("The Com Port is not Open!  Use Connect on the "
                                                "Setup menu to reach the unit."));
    } else if (!m_session.link.refuseWhenBusy()) {
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

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtTerminal && event->type() == QEvent::KeyPress) {
        const QString text = static_cast<QKeyEvent*>(event)->text();
        if (!text.isEmpty() && (text.at(0).isPrint() || text.at(0) == QLatin1Char('\r')))
            txtTerminal_KeyPress(text);
    } else if (watched == SSTab2->tabBar() && event->type() == QEvent::MouseButtonPress) {
        if (m_debugCounter.tabControlClicked(SSTab2->currentIndex()))
            SSTab2->setTabEnabled(DebugTabIndex, true);
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace kqm::ui
