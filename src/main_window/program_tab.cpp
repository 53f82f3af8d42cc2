#include "main_window/program_tab.h"

#include "link/link.h"
#include "program/program_document.h"
#include "transfer/send.h"

#include <QAction>
#include <QDir>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

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

// Paints the dry run's marks: a breakpoint's line red, with a dot before its
// first column; the line the run stands at yellow with an arrow, chosen or
// not.
class RunMarksDelegate final : public QStyledItemDelegate {
public:
    RunMarksDelegate(const std::vector<bool>& breakpoints, const int& current, QTableView* grid)
        : QStyledItemDelegate(grid), m_grid(grid), m_breakpoints(breakpoints), m_current(current) {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const int row = index.row();
        const bool breakpoint =
            row < static_cast<int>(m_breakpoints.size()) && m_breakpoints[static_cast<size_t>(row)];
        if (row == m_current) {
            option->backgroundBrush = QColor(255, 236, 140);
            option->palette.setColor(QPalette::Highlight, QColor(232, 190, 40));
            option->palette.setColor(QPalette::HighlightedText, Qt::black);
        } else if (breakpoint) {
            option->backgroundBrush = QColor(248, 196, 196);
        }
        // The dot goes in the first column shown (the line number is hidden
        // while a file is bound).
        const int first = m_grid->isColumnHidden(0) ? 1 : 0;
        if (breakpoint && index.column() == first)
            option->text = QStringLiteral("\u25CF ") + option->text;
        if (row == m_current && index.column() == first)
            option->text = QStringLiteral("\u25B6 ") + option->text;
    }

private:
    const QTableView* m_grid;
    const std::vector<bool>& m_breakpoints;
    const int& m_current;
};

} // namespace

ProgramTab::ProgramTab(QWidget* parent) : QWidget(parent) {
    DBGrid2 = new QTableView;
    DBGrid2->setObjectName(QStringLiteral("DBGrid2"));
    DBGrid2->setModel(&m_gridModel);
    DBGrid2->setItemDelegate(new RunMarksDelegate(m_breakpoints, m_runLine, DBGrid2));
    DBGrid2->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid2->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid2->setSelectionMode(QAbstractItemView::ExtendedSelection);
    DBGrid2->verticalHeader()->setDefaultSectionSize(DBGrid2->fontMetrics().height() + 6);
    // The comments take what the window gives beyond the fixed columns.
    DBGrid2->horizontalHeader()->setStretchLastSection(true);

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
    lblSendLine = label("lblSendLine");
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

    lblProblems = label("lblProblems");
    lstProblems = new QListWidget;
    lstProblems->setObjectName(QStringLiteral("lstProblems"));
    lstProblems->setMaximumHeight(lstProblems->fontMetrics().height() * 6);
    auto* gridAndCheck = new QVBoxLayout;
    gridAndCheck->addWidget(DBGrid2, 1);
    gridAndCheck->addWidget(lblProblems);
    gridAndCheck->addWidget(lstProblems);

    auto* top = new QHBoxLayout;
    top->addLayout(gridAndCheck, 1);
    top->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(lblBytesUsed);
    auto* sending = new QHBoxLayout;
    sending->addWidget(lblCurrentCommand);
    sending->addWidget(prgSend, 1);
    sending->addWidget(lblSendLine);
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
    connect(DBGrid2->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (m_selecting)
            return;
        const QList<int> rows = selectedRows();
        emit selectionChosen(rows.isEmpty() ? -1 : rows.first(),
                             rows.isEmpty() ? 0 : rows.last() - rows.first() + 1);
    });
    connect(DBGrid2, &QAbstractItemView::doubleClicked, this, &ProgramTab::changeRequested);
    connect(lstProblems, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        emit problemChosen(item->data(Qt::UserRole).toInt());
    });
    connect(lstProblems, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        emit problemChosen(item->data(Qt::UserRole).toInt());
    });
    showProblems({});
    setAxis(QStringLiteral("0"));
    for (QWidget* watched : {static_cast<QWidget*>(cmdAdd), static_cast<QWidget*>(DBGrid2),
                             static_cast<QWidget*>(cmdStop)})
        watched->installEventFilter(this);
}

bool ProgramTab::eventFilter(QObject* watched, QEvent* event) {
    // A grid key whose shortcut did not fire (the window was not the active
    // one, as after some dialogs) reaches the grid as a key press: it runs
    // the same action.
    if (watched == DBGrid2 && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        for (QAction* action : DBGrid2->actions()) {
            if (action->isEnabled() &&
                action->shortcuts().contains(QKeySequence(key->keyCombination()))) {
                action->trigger();
                return true;
            }
        }
    }
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

void ProgramTab::addGridAction(QAction* action) {
    action->setShortcutContext(Qt::WidgetShortcut);
    DBGrid2->addAction(action);
}

void ProgramTab::setAxis(const QString& axis) {
    const QString at = QLatin1Char('@') + axis;
    cmdAdd->setToolTip(QStringLiteral("Adds a line at the end of the program"));
    cmdInsert->setToolTip(QStringLiteral("Inserts a line before the selected one (Insert key)"));
    cmdChange->setToolTip(
        QStringLiteral("Changes the selected line (Enter, or double-click the line)"));
    cmdDelete->setToolTip(QStringLiteral("Deletes the selected lines (Delete key)"));
    cmdSend->setToolTip(QStringLiteral("Sends %1E0 to start program entry, then every line of "
                                       "the program as a %1 frame (F5)")
                            .arg(at));
    cmdUpload->setToolTip(QStringLiteral("Asks the unit at %1 for its stored program (VE) and "
                                         "shows it in the grid (F6)")
                              .arg(at));
    cmdView->setToolTip(
        QStringLiteral("Sends %1*0 and shows the unit's own listing of its program (F7)").arg(at));
    cmdRun->setToolTip(QStringLiteral("Sends %1R0: runs the stored program").arg(at));
    cmdStop->setToolTip(QStringLiteral("Sends %1.: stops the program and the motor").arg(at));
    cmdEnableAutostart->setToolTip(
        QStringLiteral("Sends %1U1: the stored program runs when the unit powers up").arg(at));
    cmdDisableAutostart->setToolTip(
        QStringLiteral("Sends %1U0: the unit waits for commands when it powers up").arg(at));
}

void ProgramTab::showRows(const QVector<program::ProgramRow>& rows) {
    m_gridModel.setRows(rows);
}

std::optional<int> ProgramTab::selectedRow() const {
    const QList<int> rows = selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return rows.first();
}

QList<int> ProgramTab::selectedRows() const {
    QList<int> rows;
    for (const QModelIndex& index : DBGrid2->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

void ProgramTab::setRunMarks(const std::vector<bool>& breakpoints, int current) {
    m_breakpoints = breakpoints;
    m_runLine = current;
    if (current >= 0 && current < m_gridModel.rowCount())
        DBGrid2->scrollTo(m_gridModel.index(current, 1));
    DBGrid2->viewport()->update();
}

void ProgramTab::selectRow(int row) {
    selectRows(row, 1);
}

void ProgramTab::selectRows(int first, int count) {
    m_selecting = true;
    DBGrid2->clearSelection();
    if (first >= 0 && first < m_gridModel.rowCount()) {
        const int last = std::min(first + count, m_gridModel.rowCount()) - 1;
        DBGrid2->setCurrentIndex(m_gridModel.index(first, 1));
        DBGrid2->selectionModel()->select(
            QItemSelection(m_gridModel.index(first, 0), m_gridModel.index(last, 4)),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        DBGrid2->scrollTo(m_gridModel.index(first, 1));
    }
    m_selecting = false;
}

void ProgramTab::showProblems(const QVector<program::ProgramProblem>& problems) {
    lstProblems->clear();
    int errors = 0;
    for (const program::ProgramProblem& problem : problems) {
        const bool error = problem.severity == program::ProblemSeverity::Error;
        errors += error ? 1 : 0;
        auto* item =
            new QListWidgetItem(QStringLiteral("Line %1: %2: %3")
                                    .arg(problem.line)
                                    .arg(program::severityName(problem.severity), problem.message));
        item->setData(Qt::UserRole, problem.line);
        item->setForeground(error ? QColor(176, 0, 0) : QColor(150, 95, 0));
        lstProblems->addItem(item);
    }
    const int warnings = static_cast<int>(problems.size()) - errors;
    const auto count = [](int n, const char* word) {
        return QStringLiteral("%1 %2%3")
            .arg(n)
            .arg(QLatin1String(word))
            .arg(n == 1 ? QString() : QStringLiteral("s"));
    };
    lblProblems->setText(problems.isEmpty()
                             ? QStringLiteral("Program check: no problems found.")
                             : QStringLiteral("Program check: %1, %2. Click one to go to its line.")
                                   .arg(count(errors, "error"), count(warnings, "warning")));
}

void ProgramTab::setColumnTwips(const int (&twips)[5]) {
    const int dpi = DBGrid2->logicalDpiX();
    for (int column = 0; column < 5; ++column) {
        const int pixels = twips[column] * dpi / 1440;
        DBGrid2->setColumnHidden(column, pixels == 0);
        // Never narrower than the column's own header ("Address").
        if (pixels > 0)
            DBGrid2->setColumnWidth(
                column, std::max(pixels, DBGrid2->horizontalHeader()->sectionSizeHint(column)));
    }
}

void ProgramTab::SetGridColumnWidths() {
    setColumnTwips(GridColumnTwips);
}

void ProgramTab::showUploadColumns() {
    setColumnTwips(UploadColumnTwips);
}

void ProgramTab::focusGrid() {
    if (isVisible())
        DBGrid2->setFocus(Qt::OtherFocusReason);
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

void ProgramTab::showSending(int index, int total, QChar character, double pace) {
    lblCurrentCommand->setText(QStringLiteral("Sending: ") + character);
    prgSend->setValue(index + 1);
    prgSend->setFormat(
        QStringLiteral("%p% - %1 left").arg(transfer::timeLeft(total - index - 1, pace)));
}

void ProgramTab::showSendingLine(int line, int lines) {
    lblSendLine->setText(QStringLiteral("line %1 of %2").arg(line).arg(lines));
}

void ProgramTab::sendEnded() {
    lblCurrentCommand->clear();
    lblSendLine->clear();
    prgSend->hide();
}

void ProgramTab::follow(program::ProgramDocument& document, link::Link& link) {
    connect(&document, &program::ProgramDocument::rowsChanged, this,
            [this](const QVector<program::ProgramRow>& rows) {
                showRows(rows);
                showProblems(program::checkProgram(rows));
            });
    connect(&document, &program::ProgramDocument::currentRowChanged, this, &ProgramTab::selectRow);
    connect(&document, &program::ProgramDocument::selectionChanged, this, &ProgramTab::selectRows);
    connect(&document, &program::ProgramDocument::memoryTextChanged, this,
            &ProgramTab::showMemoryText);
    connect(&document, &program::ProgramDocument::boundFileChanged, this,
            [this](const QString& path) {
                showCurrentFile(path);
                if (!path.isEmpty())
                    SetGridColumnWidths();
            });
    connect(this, &ProgramTab::selectionChosen, this, [&document](int row, int count) {
        document.noteSelection(row < 0 ? std::nullopt : std::optional<int>(row), count);
    });
    connect(this, &ProgramTab::problemChosen, this,
            [&document](int line) { document.setCurrentRow(line - 1); });
    connect(&link, &link::Link::progressStarted, this, [this] { showProgressColour(true); });
    connect(&link, &link::Link::progressChanged, this, [this](int sent, int total) {
        showMemoryText(link::transmittingCaption(sent, total));
    });
    connect(&link, &link::Link::progressEnded, this, [this, &document] {
        // The progress is over: the label tells of the program shown again.
        showProgressColour(false);
        showMemoryText(document.memoryText());
    });
}

} // namespace kqm::ui
