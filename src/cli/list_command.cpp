#include "cli/list_command.h"

#include "cli/command_line.h"
#include "cli/console_messages.h"
#include "cli/printable.h"
#include "program/command_set.h"
#include "program/listing.h"
#include "program/program_table.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kqm::cli {

namespace {

// The layout is documented in docs/json.md; scripts depend on it.
QByteArray listingJson(const QVector<program::ProgramRow>& rows,
                       const program::ListingOutcome& outcome) {
    QJsonArray lines;
    for (const program::ProgramRow& row : rows) {
        lines.append(QJsonObject{{QStringLiteral("line"), row.lineNo},
                                 {QStringLiteral("address"), row.address},
                                 {QStringLiteral("command"), row.command},
                                 {QStringLiteral("listing"), row.listing},
                                 {QStringLiteral("comment"), row.comment}});
    }
    const QJsonObject root{{QStringLiteral("lines"), lines},
                           {QStringLiteral("bytesUsed"), outcome.programSize},
                           {QStringLiteral("memoryBytes"), program::UnitMemoryBytes},
                           {QStringLiteral("fits"), outcome.programFits}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

} // namespace

int listCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    const QString json = QStringLiteral("--json");
    FileArguments parsed;
    if (!parseFileArguments(QStringLiteral("list"), arguments, {json}, &parsed, err))
        return UsageError;
    const QString& path = parsed.file;
    auto rows = readProgramRows(path, err);
    if (!rows)
        return UsageError;
    ConsoleMessages messages(err);
    const program::ListingOutcome outcome = program::computeListing(*rows, messages);
    if (parsed.switches.contains(json)) {
        out << QString::fromUtf8(listingJson(*rows, outcome));
        out.flush();
    } else {
        for (const program::ProgramRow& row : *rows) {
            out << row.lineNo << '\t' << row.address
                << '\t'
                // A line break inside a command is shown, as the check and the send
                // refuse it.
                << printable(row.command) << '\t' << printable(row.listing) << '\t'
                << printable(row.comment) << '\n';
        }
        out << outcome.caption << Qt::endl;
    }
    if (!outcome.programFits) {
        messages.show(platform::MessageIcon::Critical, program::OverSizeWarning,
                      platform::MessageButtons::Ok);
        return ProgramTooLarge;
    }
    return Success;
}

} // namespace kqm::cli
