#include "cli/print_command.h"

#include "cli/console_messages.h"
#include "cli/list_command.h"
#include "files/listing_render.h"
#include "files/printed_listing.h"
#include "program/listing.h"
#include "program/program_table.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QPdfWriter>

namespace kqm::cli {

int printCommand(const QStringList& arguments, QTextStream&, QTextStream& err) {
    QStringList words = arguments;
    QString pdf;
    const qsizetype option = words.indexOf(QStringLiteral("--pdf"));
    if (option >= 0 && option + 1 < words.size()) {
        pdf = words.at(option + 1);
        words.remove(option, 2);
    }
    if (words.size() != 1 || pdf.isEmpty()) {
        err << "usage: kqmctl print FILE --pdf OUT.pdf" << Qt::endl;
        return UsageError;
    }
    const QString file = words.first();
    program::ProgramTable table;
    if (!table.open(file, program::SqliteFile::Mode::ReadOnly)) {
        err << "kqmctl: " << table.openFailure(file) << Qt::endl;
        return UsageError;
    }
    auto rows = table.readRows();
    if (!rows) {
        err << "kqmctl: " << table.lastError() << Qt::endl;
        return Failure;
    }
    if (rows->isEmpty()) {
        err << "The program is empty." << Qt::endl;
        return Failure;
    }
    ConsoleMessages messages(err);
    const program::ListingOutcome outcome = program::computeListing(*rows, messages);
    QPdfWriter writer(pdf);
    const auto items = files::layOutListing(
        *rows, QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath()), outcome.caption,
        QDateTime::currentDateTime(), files::deviceLineHeights(writer));
    QString error;
    if (!files::renderListing(writer, items, &error)) {
        err << "kqmctl: " << QDir::toNativeSeparators(pdf) << " could not be written: " << error
            << Qt::endl;
        return Failure;
    }
    return Success;
}

} // namespace kqm::cli
