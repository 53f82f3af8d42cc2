#pragma once

#include "program/edit_history.h"
#include "program/program_table.h"

#include <QObject>
#include <QString>
#include <QVector>

#include <cstdint>

namespace kqm::platform {
class Messages;
}

namespace kqm::program {

// What the last listing refresh found: the program's size, whether it fits the
// unit, and the memory caption shown under the grid.
class ProgramState : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    int ProgramSize = 0;
    bool ProgramFits = true;

    QString bytesUsedCaption() const { return m_caption; }
    void setBytesUsedCaption(const QString& caption);

signals:
    void bytesUsedCaptionChanged(const QString& caption);

private:
    QString m_caption;
};

struct ListingOutcome {
    int programSize = 0;
    bool programFits = true;
    QString caption;
};

QString memoryCaption(int bytes);
// One box for a refresh's unknown commands (line number, command): the
// single command's own text, or the first few of them and their count.
QString unknownCommandsText(const QList<std::pair<int, QString>>& unknown);
inline const QString OverSizeWarning =
    QStringLiteral("Warning: Program size exceeds avaialable memory.");

// Numbers the rows, gives each its address, fills pending listing texts and
// sizes the program, showing the unknown-command box for each line it cannot
// size. Works on rows in memory; the caller stores them and warns when the
// program does not fit.
ListingOutcome computeListing(QVector<ProgramRow>& rows, platform::Messages& messages);

struct RefreshResult {
    bool ok = false;
    QString error;
    QVector<ProgramRow> rows; // the table as stored after the refresh
};

// The listing refresh of the bound program table: computes the listing, stores
// every changed row in one transaction, publishes size, fit and caption, and
// warns when the program is larger than the unit's memory.
RefreshResult RefreshListing(ProgramTable& table, ProgramState& state,
                             platform::Messages& messages);

// Stores an edited program and its refreshed listing in one transaction:
// rows of `after` that are new (by rowid) are inserted, rows of `before`
// that are gone are deleted, changed rows are updated. Then publishes as
// RefreshListing does. A failed write leaves the file as it was.
// With a step, the change is also recorded in the file's undo history, in
// the same transaction.
RefreshResult storeAndRefresh(ProgramTable& table, const QVector<ProgramRow>& before,
                              QVector<ProgramRow> after, ProgramState& state,
                              platform::Messages& messages, const HistoryStep* step = nullptr);

// Brings the line numbers, addresses and pending listings of rows read from
// the table up to date and writes the records that change, without a box
// and without an undo step (they are no change to the program). Runs inside
// the caller's transaction; rows are left as stored.
bool storeDerivedFields(ProgramTable& table, QVector<ProgramRow>& rows);

// Publishes size, fit and caption of rows that are stored already (after an
// undo or redo) without any box but the over-size warning.
void publishListing(const QVector<ProgramRow>& rows, ProgramState& state,
                    platform::Messages& messages);

// The Address field of every row in program order.
std::optional<QVector<int16_t>> CollectLineAddresses(ProgramTable& table);

} // namespace kqm::program
