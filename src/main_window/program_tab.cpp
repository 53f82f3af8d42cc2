#include "main_window/program_tab.h"

#include "transfer/send.h"

#include <QDir>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace kqm::ui {

namespace {

QPushButton* button(const char* name, const QString& caption) {
    auto* push = new QPushButton(caption);
    push->setObjectName(QString::fromLatin1(name));
    return push;
}

QLabel* label(const char* name) {
    auto* text = new QLabel;
    text->setObjectName(QString::fromLatin1(name));
    return text;
}

// The grid's column widths, in twips, in field order: the line number and the
// stored command are hidden.
constexpr int GridColumnTwips[5] = {0, 800, 0, 3500, 4000};
// After an upload: line number, address and command string.
constexpr int UploadColumnTwips[5] = {800, 800, 3500, 0, 0};

} // namespace

ProgramTab::ProgramTab(QWidget* parent) : QWidget(parent) {
    DBGrid2 = new QTableView;
    DBGrid2->setObjectName(QStringLiteral("DBGrid2"));
    DBGrid2->setModel(&m_gridModel);
    DBGrid2->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid2->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid2->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid2->verticalHeader()->setDefaultSectionSize(DBGrid2->fontMetrics().height() + 6);

    cmdAdd = button("cmdAdd", QStringLiteral("Add"));
    cmdChange = button("cmdChange", QStringLiteral("Change"));
    cmdInsert = button("cmdInsert", QStringLiteral("Insert"));
    cmdDelete = button("cmdDelete", QStringLiteral("Delete"));
    cmdSend = button("cmdSend", QStringLiteral("Send Program to Controller"));
    cmdUpload = button("cmdUpload", QStringLiteral("Upload Program"));
    cmdView = button("cmdView", QStringLiteral("View Program in Controller"));
    cmdRun = button("cmdRun", QStringLiteral("Run"));
    cmdStop = button("cmdStop", QStringLiteral("Stop"));
    cmdEnableAutostart = button("cmdEnableAutostart", QStringLiteral("Enable Autostart"));
    cmdDisableAutostart = button("cmdDisableAutostart", QStringLiteral("Disable Autostart"));
    lblBytesUsed = label("lblBytesUsed");
    lblCurrentCommand = label("lblCurrentCommand");
    lblCurrentFile = label("lblCurrentFile");
    prgSend = new QProgressBar;
    prgSend->setObjectName(QStringLiteral("prgSend"));
    prgSend->hide();
    lblCurrentFile->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* buttons = new QGridLayout;
    const QList<QPushButton*> column = {cmdAdd,  cmdInsert, cmdChange, cmdDelete,
                                        cmdSend, cmdUpload, cmdView};
    for (int i = 0; i < column.size(); ++i)
        buttons->addWidget(column.at(i), i, 0, 1, 2);
    buttons->addWidget(cmdRun, 7, 0);
    buttons->addWidget(cmdStop, 7, 1);
    buttons->addWidget(cmdEnableAutostart, 8, 0, 1, 2);
    buttons->addWidget(cmdDisableAutostart, 9, 0, 1, 2);
    buttons->setRowStretch(10, 1);

    auto* top = new QHBoxLayout;
    top->addWidget(DBGrid2, 1);
    top->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(lblBytesUsed);
    auto* sending = new QHBoxLayout;
    sending->addWidget(lblCurrentCommand);
    sending->addWidget(prgSend, 1);
    layout->addLayout(sending);
    layout->addWidget(lblCurrentFile);

    connect(cmdAdd, &QPushButton::clicked, this, &ProgramTab::addRequested);
    connect(cmdInsert, &QPushButton::clicked, this, &ProgramTab::insertRequested);
    connect(cmdChange, &QPushButton::clicked, this, &ProgramTab::changeRequested);
    connect(cmdDelete, &QPushButton::clicked, this, &ProgramTab::deleteRequested);
    connect(cmdSend, &QPushButton::clicked, this, &ProgramTab::sendRequested);
    connect(cmdUpload, &QPushButton::clicked, this, &ProgramTab::uploadRequested);
    connect(cmdView, &QPushButton::clicked, this, &ProgramTab::viewRequested);
    const auto motion = [this](QPushButton* push, link::MotionControl control) {
        connect(push, &QPushButton::clicked, this,
                [this, control] { emit motionRequested(control); });
    };
    motion(cmdRun, link::MotionControl::Run);
    motion(cmdStop, link::MotionControl::Stop);
    motion(cmdEnableAutostart, link::MotionControl::EnableAutostart);
    motion(cmdDisableAutostart, link::MotionControl::DisableAutostart);
    for (QWidget* watched : {static_cast<QWidget*>(cmdAdd), static_cast<QWidget*>(DBGrid2),
                             static_cast<QWidget*>(cmdStop)})
        watched->installEventFilter(this);
}

bool ProgramTab::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        if (watched == cmdAdd)
            emit addFocused();
        else if (watched == DBGrid2)
            emit gridFocused();
        else if (watched == cmdStop)
            emit stopFocused();
    }
    return QWidget::eventFilter(watched, event);
}

void ProgramTab::showRows(const QVector<program::ProgramRow>& rows) {
    m_gridModel.setRows(rows);
}

std::optional<int> ProgramTab::selectedRow() const {
    const QModelIndexList rows = DBGrid2->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return rows.first().row();
}

void ProgramTab::selectRow(int row) {
    DBGrid2->clearSelection();
    if (row >= 0 && row < m_gridModel.rowCount())
        DBGrid2->selectRow(row);
}

void ProgramTab::setColumnTwips(const int (&twips)[5]) {
    const int dpi = DBGrid2->logicalDpiX();
    for (int column = 0; column < 5; ++column) {
        const int pixels = twips[column] * dpi / 1440;
        DBGrid2->setColumnHidden(column, pixels == 0);
        if (pixels > 0)
            DBGrid2->setColumnWidth(column, pixels);
    }
}

void ProgramTab::SetGridColumnWidths() {
    setColumnTwips(GridColumnTwips);
}

void ProgramTab::showUploadColumns() {
    setColumnTwips(UploadColumnTwips);
}

void ProgramTab::showMemoryText(const QString& text) {
    lblBytesUsed->setText(text);
}

void ProgramTab::showProgressColour(bool transmitting) {
    lblBytesUsed->setStyleSheet(transmitting ? QStringLiteral("color: rgb(0, 0, 255);")
                                             : QStringLiteral("color: rgb(128, 0, 128);"));
}

void ProgramTab::showUploadStandby() {
    showProgressColour(true);
    lblBytesUsed->setText(QStringLiteral("PLEASE STANDBY..."));
    lblBytesUsed->repaint();
}

void ProgramTab::showCurrentFile(const QString& path) {
    lblCurrentFile->setText(QDir::toNativeSeparators(path));
}

void ProgramTab::sendStarted(int total) {
    prgSend->setRange(0, total);
    prgSend->setValue(0);
    prgSend->show();
}

void ProgramTab::showSending(int index, int total, QChar character) {
    lblCurrentCommand->setText(QStringLiteral("Sending: ") + character);
    prgSend->setValue(index + 1);
    prgSend->setFormat(QStringLiteral("%p% - %1 left").arg(transfer::timeLeft(total - index - 1)));
}

void ProgramTab::sendEnded() {
    lblCurrentCommand->clear();
    prgSend->hide();
}

} // namespace kqm::ui
