#pragma once

#include "transfer/transfer_log.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace kqm::platform {
class FileDialogs;
class Messages;
} // namespace kqm::platform

namespace kqm::transfer {

// File > Transfer Log: the log's entries in a table, newest first, chosen
// by axis and by any text in them, and exported as CSV as they are shown.
class frmTransferLog final : public QDialog {
    Q_OBJECT
public:
    frmTransferLog(const QString& logFile, platform::FileDialogs& dialogs,
                   platform::Messages& messages, QWidget* parent = nullptr);

    // Reads the log again.
    void reload();
    // The entries the table shows now.
    const QList<TransferLogEntry>& shown() const { return m_shown; }
    // The window's working copy: its entries name it as "Untitled".
    void setWorkingCopy(const QString& path);
    bool exportCsv(const QString& path);

private:
    void showEntries();

    QString m_logFile;
    platform::FileDialogs& m_dialogs;
    platform::Messages& m_messages;
    QList<TransferLogEntry> m_entries;
    QList<TransferLogEntry> m_shown;
    QString m_workingCopy;
    QComboBox* cboLogAxis;
    QLineEdit* txtLogFilter;
    QTableWidget* grdTransferLog;
    QPushButton* cmdExportCsv;
    QPushButton* cmdRefreshLog;
    QPushButton* cmdCloseLog;
};

} // namespace kqm::transfer
