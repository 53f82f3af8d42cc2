#include "cli/list_command.h"

#include "cli/console_messages.h"
#include "cli/printable.h"
#include "program/command_set.h"
#include "program/listing.h"
#include "program/program_table.h"

#include <QDir>

namespace kqm::cli {

int listCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    if (arguments.size() != 1) {
        err << "usage: kqmctl list FILE" << Qt::endl;
        return UsageError;
    }
    const QString path = arguments.at(0);
    program::ProgramTable table;
    if (!table.open(path, program::SqliteFile::Mode::ReadOnly)) {
        err << "kqmctl: " << table.openFailure(path) << Qt::endl;
        return UsageError;
    }
    auto rows = table.readRows();
    if (!rows) {
        err << "kqmctl: " << QDir::toNativeSeparators(path)
            << " could not be read: " << table.lastError() << Qt::endl;
        return UsageError;
    }
    ConsoleMessages messages(err);
    const program::ListingOutcome outcome = program::computeListing(*rows, messages);
    for (const program::ProgramRow& row : *rows) {
        out << row.lineNo << '\t' << row.address << '\t'
            << printable(program::StripCrLf(row.command)) << '\t' << printable(row.listing) << '\t'
            << printable(row.comment) << '\n';
    }
    out << outcome.caption << Qt::endl;
    if (!outcome.programFits) {
        messages.show(platform::MessageIcon::Critical, program::OverSizeWarning,
                      platform::MessageButtons::Ok);
        return ProgramTooLarge;
    }
    return Success;
}

} // namespace kqm::cli
