#include "transfer/transfer_log_dialog.h"

#include <QFileInfo>

#include "platform/file_dialogs.h"
#include "platform/messages.h"

#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kqm::transfer {

frmTransferLog::frmTransferLog(const QString& logFile, platform::FileDialogs& dialogs,
                               platform::Messages& messages, QWidget* parent)
    : QDialog(parent), m_logFile(logFile), m_dialogs(dialogs), m_messages(messages) {
    setObjectName(QStringLiteral("frmTransferLog"));
    setWindowTitle(QStringLiteral("Transfer Log"));
    cboLogAxis = new QComboBox(this);
    cboLogAxis->setObjectName(QStringLiteral("cboLogAxis"));
    cboLogAxis->addItem(QStringLiteral("All axes"), -1);
    for (int axis = 0; axis < 32; ++axis)
        cboLogAxis->addItem(QStringLiteral("Axis %1").arg(axis), axis);
    txtLogFilter = new QLineEdit(this);
    txtLogFilter->setObjectName(QStringLiteral("txtLogFilter"));
    txtLogFilter->setPlaceholderText(QStringLiteral("Show entries that contain..."));
    txtLogFilter->setClearButtonEnabled(true);
    grdTransferLog = new QTableWidget(0, static_cast<int>(transferLogColumns().size()), this);
    grdTransferLog->setObjectName(QStringLiteral("grdTransferLog"));
    grdTransferLog->setHorizontalHeaderLabels(transferLogColumns());
    grdTransferLog->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdTransferLog->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdTransferLog->verticalHeader()->hide();
    grdTransferLog->horizontalHeader()->setStretchLastSection(true);
    const auto button = [this](const QString& caption, const char* name) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        return b;
    };
    cmdExportCsv = button(QStringLiteral("&Export CSV..."), "cmdExportCsv");
    cmdRefreshLog = button(QStringLiteral("&Refresh"), "cmdRefreshLog");
    cmdCloseLog = button(QStringLiteral("Close"), "cmdCloseLog");
    auto* filters = new QHBoxLayout;
    filters->addWidget(cboLogAxis);
    filters->addWidget(txtLogFilter, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdExportCsv);
    buttons->addWidget(cmdRefreshLog);
    buttons->addStretch();
    buttons->addWidget(cmdCloseLog);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(grdTransferLog);
    layout->addLayout(buttons);
    resize(980, 420);

    connect(cboLogAxis, &QComboBox::currentIndexChanged, this, &frmTransferLog::showEntries);
    connect(txtLogFilter, &QLineEdit::textChanged, this, &frmTransferLog::showEntries);
    connect(cmdRefreshLog, &QPushButton::clicked, this, &frmTransferLog::reload);
    connect(cmdCloseLog, &QPushButton::clicked, this, &QDialog::close);
    connect(cmdExportCsv, &QPushButton::clicked, this, [this] {
        if (const auto path = m_dialogs.saveFileName(QString(), QStringLiteral("CSV (*.csv)")))
            exportCsv(*path);
    });
    reload();
}

void frmTransferLog::reload() {
    m_entries = readTransferLog(m_logFile);
    std::reverse(m_entries.begin(), m_entries.end());
    showEntries();
}

void frmTransferLog::showEntries() {
    const int axis = cboLogAxis->currentData().toInt();
    const QString text = txtLogFilter->text().trimmed();
    m_shown.clear();
    for (const TransferLogEntry& entry : m_entries) {
        if (axis >= 0 && entry.axis != axis)
            continue;
        if (!text.isEmpty() &&
            !transferLogFields(entry).join(QLatin1Char('\t')).contains(text, Qt::CaseInsensitive))
            continue;
        m_shown << entry;
    }
    grdTransferLog->setRowCount(static_cast<int>(m_shown.size()));
    for (int row = 0; row < m_shown.size(); ++row) {
        QStringList fields = transferLogFields(m_shown.at(row));
        if (!m_workingCopy.isEmpty() && m_shown.at(row).program == m_workingCopy)
            fields[ProgramField] = QStringLiteral("Untitled");
        for (int column = 0; column < fields.size(); ++column)
            grdTransferLog->setItem(row, column, new QTableWidgetItem(fields.at(column)));
    }
    grdTransferLog->resizeColumnsToContents();
}

void frmTransferLog::setWorkingCopy(const QString& path) {
    m_workingCopy = QFileInfo(path).absoluteFilePath();
    showEntries();
}

bool frmTransferLog::exportCsv(const QString& path) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(transferLogCsv(m_shown).toUtf8());
        if (file.commit())
            return true;
    }
    m_messages.show(platform::MessageIcon::Critical,
                    QStringLiteral("The CSV file %1 could not be written: %2")
                        .arg(QDir::toNativeSeparators(path), file.errorString()));
    return false;
}

} // namespace kqm::transfer
