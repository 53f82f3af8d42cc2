#include "program/listing.h"

#include "platform/messages.h"
#include "program/command_set.h"

namespace kqm::program {

void ProgramState::setBytesUsedCaption(const QString& caption) {
    m_caption = caption;
    emit bytesUsedCaptionChanged(caption);
}

QString MemoryCaption(int bytes) {
    return QStringLiteral("Memory: %1 of %2 bytes used.").arg(bytes).arg(UnitMemoryBytes);
}

ListingOutcome ComputeListing(QVector<ProgramRow>& rows, platform::Messages& messages) {
    ListingOutcome outcome;
    if (rows.isEmpty())
        return outcome;
    int lineNumber = 1;
    int address = 0;
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
        address += CommandSize(row.command, messages);
        ++lineNumber;
    }
    outcome.programSize = address;
    outcome.caption = MemoryCaption(address);
    outcome.programFits = address <= UnitMemoryBytes;
    return outcome;
}

RefreshResult RefreshListing(ProgramTable& table, ProgramState& state,
                             platform::Messages& messages) {
    RefreshResult result;
    auto rows = table.readRows();
    if (!rows) {
        result.error = table.lastError();
        return result;
    }
    const QVector<ProgramRow> before = *rows;
    const ListingOutcome outcome = ComputeListing(*rows, messages);

    // Only rows whose fields changed are written: an unchanged program costs
    // no disk write, and a changed one is stored whole or not at all.
    QVector<ProgramRow> changed;
    for (qsizetype i = 0; i < rows->size(); ++i) {
        if (!(rows->at(i) == before.at(i)))
            changed.push_back(rows->at(i));
    }
    if (!changed.isEmpty()) {
        Transaction transaction(table.file());
        if (!transaction.started() || !table.updateRows(changed) || !transaction.commit()) {
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
    result.rows = std::move(*rows);
    return result;
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
