#include "main_window/program_print.h"

#include "files/listing_printer.h"
#include "files/printed_listing.h"
#include "main_window/session.h"
#include "platform/busy_cursor.h"
#include "platform/messages.h"
#include "program/listing.h"
#include "program/sqlite_file.h"

#include <QDateTime>
#include <QDir>
#include <QPrinter>

namespace kqm::ui {

using platform::MessageIcon;

void printProgram(Session& session, const QString& suggestedPdf) {
    const Services& services = session.services;
    const auto empty = [&] {
        const auto rows = session.document.table().readRows();
        return !rows || rows->isEmpty();
    };
    if (empty()) {
        services.messages.show(MessageIcon::Critical, QStringLiteral("The program is empty."));
        return;
    }
    QPrinter printer;
    if (!services.printDialogs.choosePrinter(printer, suggestedPdf))
        return;
    // What is printed is the file as it is when the user confirmed the
    // dialog, its memory line that of the very rows printed.
    platform::BusyCursorGuard busy(services.busyCursor);
    std::optional<QVector<program::ProgramRow>> rows;
    {
        program::Transaction hold(session.document.table().file());
        rows = session.document.table().readRows();
    }
    if (!rows) {
        services.messages.show(MessageIcon::Critical,
                               QStringLiteral("Nothing was printed: %1 could not be read (%2).")
                                   .arg(QDir::toNativeSeparators(session.document.path()),
                                        session.document.table().lastError()));
        return;
    }
    if (rows->isEmpty()) {
        services.messages.show(MessageIcon::Critical, QStringLiteral("The program is empty."));
        return;
    }
    QVector<program::ProgramRow> sized = *rows;
    platform::SilentMessages silent;
    const program::ListingOutcome outcome = program::computeListing(sized, silent);
    const auto items = files::layOutListing(
        sized, QDir::toNativeSeparators(session.document.path()), outcome.caption,
        QDateTime::currentDateTime(), files::deviceLineHeights(printer));
    QString error;
    if (!files::renderListing(printer, items, &error)) {
        services.messages.show(MessageIcon::Critical,
                               QStringLiteral("A print routine error occurred.  Please check "
                                              "your settings and try again."));
    }
}

} // namespace kqm::ui
