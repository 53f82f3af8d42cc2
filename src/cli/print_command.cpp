#include "cli/print_command.h"

#include "cli/command_line.h"
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
#include <QSaveFile>

namespace kqm::cli {

int printCommand(const QStringList& arguments, QTextStream&, QTextStream& err) {
    const QString name = QStringLiteral("print");
    QStringList words = arguments;
    QString file;
    QString pdf;
    while (!words.isEmpty()) {
        const QString word = words.takeFirst();
        if (word == QLatin1String("--pdf")) {
            if (words.isEmpty() || !pdf.isEmpty())
                return usageError(name, QStringLiteral("--pdf takes one OUT.pdf"), err);
            pdf = words.takeFirst();
        } else if (looksLikeOption(word)) {
            return usageError(name, unknownOption(word), err);
        } else if (!file.isEmpty()) {
            return usageError(name, unexpectedArgument(word), err);
        } else {
            file = word;
        }
    }
    if (file.isEmpty())
        return usageError(name, QStringLiteral("a program FILE is required"), err);
    if (pdf.isEmpty())
        return usageError(name, QStringLiteral("--pdf OUT.pdf is required"), err);
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
    // The PDF never lands on the program file, whatever the spelling.
    const QFileInfo input(file);
    const QFileInfo output(pdf);
    if (output.exists() && output.canonicalFilePath() == input.canonicalFilePath()) {
        err << "kqmctl: the PDF would replace the program file " << QDir::toNativeSeparators(file)
            << "; name another file" << Qt::endl;
        return UsageError;
    }
    ConsoleMessages messages(err);
    const program::ListingOutcome outcome = program::computeListing(*rows, messages);
    // Written beside its place and put there whole when complete.
    QSaveFile partial(output.absoluteFilePath());
    if (!partial.open(QIODevice::WriteOnly)) {
        err << "kqmctl: " << QDir::toNativeSeparators(pdf)
            << " could not be written: " << partial.errorString() << Qt::endl;
        return Failure;
    }
    QString error;
    {
        QPdfWriter writer(&partial);
        const auto items = files::layOutListing(
            *rows, QDir::toNativeSeparators(input.absoluteFilePath()), outcome.caption,
            QDateTime::currentDateTime(), files::deviceLineHeights(writer));
        if (!files::renderListing(writer, items, &error)) {
            err << "kqmctl: " << QDir::toNativeSeparators(pdf) << " could not be written: " << error
                << Qt::endl;
            return Failure;
        }
    }
    if (!partial.commit()) {
        err << "kqmctl: " << QDir::toNativeSeparators(pdf)
            << " could not be written: " << partial.errorString() << Qt::endl;
        return Failure;
    }
    return Success;
}

} // namespace kqm::cli
