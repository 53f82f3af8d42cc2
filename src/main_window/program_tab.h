#pragma once

#include "link/motion_panel.h"
#include "program/program_check.h"
#include "program/program_grid_model.h"

#include <QWidget>

#include <optional>
#include <vector>

class QAction;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTableView;

namespace kqm::link {
class Link;
}
namespace kqm::program {
class ProgramDocument;
}

namespace kqm::ui {

// The Program tab: the program grid, the editing and transfer buttons, the
// unit's run and autostart buttons, and the memory, sending and file lines.
// It says what the user asks for; the window decides what happens.
class ProgramTab final : public QWidget {
    Q_OBJECT
public:
    explicit ProgramTab(QWidget* parent = nullptr);

    void showRows(const QVector<program::ProgramRow>& rows);
    // 0-based; none when no line is selected. With several lines selected,
    // the first of them.
    std::optional<int> selectedRow() const;
    // Every selected line, in program order.
    QList<int> selectedRows() const;
    // -1 clears the selection.
    void selectRow(int row);
    void selectRows(int first, int count);
    // The program check's findings beside the grid.
    void showProblems(const QVector<program::ProgramProblem>& problems);
    const QVector<program::ProgramRow>& rows() const { return m_gridModel.rows(); }

    // The grid's column widths: after binding a file, the address, listing
    // text and comment; after an upload, line number, address and command.
    void SetGridColumnWidths();
    void showUploadColumns();

    // The line under the grid: the memory use, or a transfer's progress.
    void showMemoryText(const QString& text);
    void showProgressColour(bool transmitting);
    void showUploadStandby();
    void showCurrentFile(const QString& path);
    // The program send's progress: the character and the time left.
    void sendStarted(int total);
    void showSending(int index, int total, QChar character, double pace = 0.1);
    // Which program line of how many the send is at, beside the progress.
    void showSendingLine(int line, int lines);
    void sendEnded();

    // The grid, the memory line and the check follow the document; the
    // memory line shows a transfer's progress on the link.
    void follow(program::ProgramDocument& document, link::Link& link);

    // The dry run's marks in the grid: breakpoints, and the line it stands at
    // (-1: none), kept in view.
    void setRunMarks(const std::vector<bool>& breakpoints, int current);

    // A key of the grid alone (Enter changes the line there and nowhere else).
    void addGridAction(QAction* action);
    // The keyboard goes back to the grid, on the user's line (after a dialog
    // the grid opened).
    void focusGrid();
    // The tooltips name the frames the buttons send to this axis.
    void setAxis(const QString& axis);

signals:
    void addRequested();
    void insertRequested();
    void changeRequested();
    void deleteRequested();
    void sendRequested();
    void uploadRequested();
    void viewRequested();
    void motionRequested(kqm::link::MotionControl control);
    // The focus landed where the tab that shows does not hold it.
    // The user chose lines in the grid (first, count; -1 and 0: none).
    void selectionChosen(int row, int count);
    // The user picked a problem of the program check: its line, 1-based.
    void problemChosen(int line);
    void addFocused();
    void gridFocused();
    void stopFocused();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setColumnTwips(const int (&twips)[5]);

    program::ProgramGridModel m_gridModel;
    std::vector<bool> m_breakpoints;
    int m_runLine = -1;
    QTableView* DBGrid2 = nullptr;
    QPushButton* cmdAdd = nullptr;
    QPushButton* cmdChange = nullptr;
    QPushButton* cmdInsert = nullptr;
    QPushButton* cmdDelete = nullptr;
    QPushButton* cmdSend = nullptr;
    QPushButton* cmdUpload = nullptr;
    QPushButton* cmdView = nullptr;
    QPushButton* cmdRun = nullptr;
    QPushButton* cmdStop = nullptr;
    QPushButton* cmdEnableAutostart = nullptr;
    QPushButton* cmdDisableAutostart = nullptr;
    QLabel* lblBytesUsed = nullptr;
    QLabel* lblCurrentCommand = nullptr;
    QLabel* lblCurrentFile = nullptr;
    QProgressBar* prgSend = nullptr;
    QLabel* lblSendLine = nullptr;
    QLabel* lblProblems = nullptr;
    QListWidget* lstProblems = nullptr;
    bool m_selecting = false; // the selection is being set from the program
};

} // namespace kqm::ui
