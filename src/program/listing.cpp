#include "program/listing.h"

#include "platform/messages.h"
#include "program/command_set.h"

#include <QHash>

namespace kqm::program {

void ProgramState::setBytesUsedCaption(const QString& caption) {
    m_caption = caption;
    emit bytesUsedCaptionChanged(caption);
}

QString unknownCommandsText(const QList<std::pair<int, QString>>& unknown) {
    if (unknown.size() == 1)
        return unknownCommandText(unknown.first().second);
    constexpr int Shown = 5;
    QStringList named;
    for (int i = 0; i < std::min<int>(Shown, unknown.size()); ++i)
        named << QStringLiteral("line %1 (%2)").arg(unknown.at(i).first).arg(unknown.at(i).second);
    QString text = QStringLiteral("Error: %1 lines hold unknown commands: %2")
                       .arg(unknown.size())
                       .arg(named.join(QStringLiteral(", ")));
    if (unknown.size() > Shown)
        text += QStringLiteral(" and %1 more").arg(unknown.size() - Shown);
    return text + QStringLiteral(". They count no bytes.");
}

QString memoryCaption(int bytes) {
    return QStringLiteral("Memory: %1 of %2 bytes used.").arg(bytes).arg(UnitMemoryBytes);
}

ListingOutcome computeListing(QVector<ProgramRow>& rows, platform::Messages& messages) {
    ListingOutcome outcome;
    if (rows.isEmpty())
        return outcome;
    int lineNumber = 1;
    int address = 0;
    QList<std::pair<int, QString>> unknown;
    for (ProgramRow& row : rows) {
        if (row.command.startsWith(QLatin1Char('~')))
            row.command.remove(0, 1);
        row.lineNo = lineNumber;
        row.address = address;
        if (row.listing == QLatin1String("!")) {
            if (IsCommandString(row.command)) {
                if (auto text = ListingText(row.command, lineNumber))
                    row.listing = *text;
            } else {
                row.listing = row.command;
            }
        }
        // Unknown commands are told once per refresh, in one box.
        if (const auto size = knownCommandSize(row.command))
            address += *size;
        else
            unknown.push_back({lineNumber, row.command});
        ++lineNumber;
    }
    if (!unknown.isEmpty())
        messages.show(platform::MessageIcon::Critical, unknownCommandsText(unknown));
    outcome.programSize = address;
    outcome.caption = memoryCaption(address);
    outcome.programFits = address <= UnitMemoryBytes;
    return outcome;
}

RefreshResult RefreshListing(ProgramTable& table, ProgramState& state,
                             platform::Messages& messages) {
    // Read under the write lock: the refresh writes back the records it
    // read, and must not write over a line another program just changed.
    Transaction transaction(table.file());
    std::optional<QVector<ProgramRow>> rows;
    if (transaction.started())
        rows = table.readRows();
    if (!rows) {
        RefreshResult result;
        result.error = table.lastError();
        return result;
    }
    RefreshResult result = storeAndRefresh(table, *rows, *rows, state, messages);
    if (result.ok && !transaction.commit()) {
        result.ok = false;
        result.error = table.lastError();
    }
    return result;
}

RefreshResult storeAndRefresh(ProgramTable& table, const QVector<ProgramRow>& before,
                              QVector<ProgramRow> after, ProgramState& state,
                              platform::Messages& messages, const HistoryStep* step) {
    RefreshResult result;
    const ListingOutcome outcome = computeListing(after, messages);

    // Only what changed is written: an unchanged program costs no disk write,
    // and a changed one is stored whole or not at all.
    const RowChanges changes = rowChanges(before, after);
    if (!changes.isEmpty()) {
        QVector<qint64> deleted;
        for (const ProgramRow& row : changes.removed)
            deleted.push_back(row.rowid);
        Transaction transaction(table.file());
        if (!transaction.started() || !table.deleteRows(deleted) ||
            !table.updateRows(changes.updated) || !table.insertRows(changes.inserted) ||
            (step && !recordHistoryStep(table.file(), *step, before, after)) || !transaction.commit()) {
            result.error = table.lastError();
            return result;
        }
    }
    state.ProgramSize = outcome.programSize;
    state.ProgramFits = outcome.programFits;
    state.setBytesUsedCaption(outcome.caption);
    if (!outcome.programFits)
        messages.show(platform::MessageIcon::Critical, OverSizeWarning);
    result.ok = true;
    result.rows = std::move(after);
    return result;
}

namespace {

// Undo and redo restore rows whose unknown commands were told about when
// they were made.
class NoBoxes final : public platform::Messages {
public:
    platform::MessageAnswer show(platform::MessageIcon, const QString&,
                                 platform::MessageButtons) override {
        return platform::MessageAnswer::Ok;
    }
};

} // namespace

bool storeDerivedFields(ProgramTable& table, QVector<ProgramRow>& rows) {
    QVector<ProgramRow> refreshed = rows;
    NoBoxes quiet;
    computeListing(refreshed, quiet);
    const RowChanges changes = rowChanges(rows, refreshed);
    if (!changes.isEmpty() && !table.updateRows(changes.updated))
        return false;
    rows = std::move(refreshed);
    return true;
}

void publishListing(const QVector<ProgramRow>& rows, ProgramState& state,
                    platform::Messages& messages) {
    QVector<ProgramRow> copy = rows;
    NoBoxes quiet;
    const ListingOutcome outcome = computeListing(copy, quiet);
    state.ProgramSize = outcome.programSize;
    state.ProgramFits = outcome.programFits;
    state.setBytesUsedCaption(outcome.caption);
    if (!outcome.programFits)
        messages.show(platform::MessageIcon::Critical, OverSizeWarning);
}

std::optional<QVector<int16_t>> CollectLineAddresses(ProgramTable& table) {
    const auto rows = table.readRows();
    if (!rows)
        return std::nullopt;
    QVector<int16_t> addresses;
    addresses.reserve(rows->size());
    for (const ProgramRow& row : *rows)
        addresses.push_back(static_cast<int16_t>(row.address));
    return addresses;
}

} // namespace kqm::program
