// The main window's program transfer buttons: send, upload and view. Kept
// apart from the layout code; the transfers themselves live in transfer/.

#include "main_window/main_window.h"

#include "files/file_copy.h"
#include "main_window/opening_window.h"
#include "platform/busy_cursor.h"
#include "platform/messages.h"
#include "transfer/send.h"
#include "transfer/send_dialog.h"
#include "transfer/upload.h"
#include "transfer/view_window.h"

#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QTableView>

namespace kqm::ui {

using platform::MessageIcon;

void Form1::cmdSend_Click() {
    if (!m_linkState.UnitConnected) {
        m_link.ReportNotConnected();
        return;
    }
    const auto rows = m_programTable.readRows().value_or(QVector<program::ProgramRow>{});
    if (const auto refusal =
            transfer::SendRefusal(static_cast<int>(rows.size()), m_programState.ProgramFits)) {
        m_services.messages.show(MessageIcon::Critical, *refusal);
        return;
    }
    QString text;
    QStringList items;
    {
        platform::BusyCursorGuard busy(m_services.busyCursor);
        text = transfer::ProgramSendText(rows, m_linkState.AxisAddress);
        items = transfer::SendListItems(rows, m_linkState.AxisAddress);
    }
    auto* dialog = new transfer::Form2(m_services.messages, text, items, this);
    connect(dialog, &transfer::Form2::sendRequested, this, &Form1::runSend);
    dialog->show();
    CentreOnScreen(dialog);
}

void Form1::runSend(const QString& sendText) {
    if (m_link.RefuseWhenBusy())
        return;
    transfer::SendOutcome outcome;
    {
        link::Link::Exchange exchange(m_link);
        platform::BusyCursorGuard busy(m_services.busyCursor);
        const int total = static_cast<int>(sendText.size());
        prgSend->setRange(0, total);
        prgSend->setValue(0);
        prgSend->show();
        outcome = transfer::SendProgram(m_link, sendText, [this, total](int index, QChar c) {
            lblCurrentCommand->setText(QStringLiteral("Sending: ") + c);
            // Every character takes 0.1 s, so the time left is exact.
            const int left = total - index - 1;
            prgSend->setValue(index + 1);
            prgSend->setFormat(QStringLiteral("%p% - %1:%2 left")
                                   .arg(left / 600)
                                   .arg((left / 10) % 60, 2, 10, QLatin1Char('0')));
        });
        lblCurrentCommand->clear();
        prgSend->hide();
    }
    if (outcome == transfer::SendOutcome::PortClosed)
        m_services.messages.show(MessageIcon::Critical, transfer::SendPortClosedMessage);
    else if (outcome == transfer::SendOutcome::Stopped)
        m_services.messages.show(MessageIcon::Warning,
                                 QStringLiteral("The send was stopped before the whole program "
                                                "reached the unit. Send the program again."));
}

bool Form1::rebuildWorkingCopy() {
    const QString previous = boundFile();
    closeBoundFile();
    const files::CopyResult copy = m_services.fileCopier.copy(m_files.templ, m_files.workingCopy);
    QString error;
    if (!copy.ok()) {
        m_services.messages.show(MessageIcon::Critical,
                                 QStringLiteral("The working copy could not be made from the "
                                                "template (%1); nothing was uploaded.")
                                     .arg(copy.detail));
        bindFile(previous, true, &error);
        return false;
    }
    if (!bindFile(m_files.workingCopy, true, &error)) {
        m_services.messages.show(
            MessageIcon::Critical,
            QStringLiteral("The working copy could not be opened (%1).").arg(error));
        return false;
    }
    return true;
}

void Form1::showUploadColumns() {
    // Line number, address and command string, until a file command lays
    // the grid out again.
    const int dpi = DBGrid2->logicalDpiX();
    const int widths[5] = {800, 800, 3500, 0, 0};
    for (int column = 0; column < 5; ++column) {
        DBGrid2->setColumnHidden(column, widths[column] == 0);
        if (widths[column] > 0)
            DBGrid2->setColumnWidth(column, widths[column] * dpi / 1440);
    }
}

void Form1::cmdUpload_Click() {
    if (!unitReady())
        return;
    platform::BusyCursorGuard busy(m_services.busyCursor);
    if (recordCount().value_or(0) > 0 &&
        m_services.messages.show(MessageIcon::Warning, transfer::ReplaceWarning,
                                 platform::MessageButtons::OkCancel) != platform::MessageAnswer::Ok)
        return;
    if (!rebuildWorkingCopy())
        return;
    showUploadColumns();
    link::Link::Exchange exchange(m_link);
    const transfer::UnitReply reply = transfer::ReadUnitProgram(m_link);
    if (!reply.responded)
        return;
    lblBytesUsed->setStyleSheet(QStringLiteral("color: rgb(0, 0, 255);"));
    lblBytesUsed->setText(QStringLiteral("PLEASE STANDBY..."));
    lblBytesUsed->repaint();
    const transfer::BuiltProgram built =
        transfer::BuildUploadedProgram(reply.text, m_services.messages);
    if (built.stored) {
        program::RefreshResult stored = program::StoreAndRefresh(
            m_programTable, m_gridModel.rows(), built.rows, m_programState, m_services.messages);
        if (!stored.ok) {
            m_services.messages.show(MessageIcon::Critical,
                                     QStringLiteral("The uploaded program could not be stored "
                                                    "(%1).")
                                         .arg(stored.error));
        } else {
            m_gridModel.setRows(std::move(stored.rows));
        }
    }
    lblBytesUsed->setStyleSheet(QStringLiteral("color: rgb(128, 0, 128);"));
    lblBytesUsed->clear();
    selectFirstLine();
}

void Form1::cmdView_Click() {
    if (!unitReady())
        return;
    auto* view = new transfer::frmView(m_link, m_services.busyCursor, this);
    view->show();
    view->Form_Load();
}

} // namespace kqm::ui
