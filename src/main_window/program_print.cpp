#include "main_window/program_print.h"

#include "files/listing_printer.h"
#include "files/printed_listing.h"
#include "main_window/session.h"
#include "platform/busy_cursor.h"
#include "platform/messages.h"

#include <QDateTime>
#include <QDir>
#include <QPrinter>

namespace kqm::ui {

using platform::MessageIcon;

void printProgram(Session& session, const QString& suggestedPdf) {
    const Services& services = session.services;
    const auto rows = session.document.table().readRows();
    if (!rows || rows->isEmpty()) {
        services.messages.show(MessageIcon::Critical, QStringLiteral("The program is empty."));
        return;
    }
    QPrinter printer;
    if (!services.printDialogs.choosePrinter(printer, suggestedPdf))
        return;
    platform::BusyCursorGuard busy(services.busyCursor);
    const auto items = files::layOutListing(
        *rows, QDir::toNativeSeparators(session.document.path()), session.document.memoryText(),
        QDateTime::currentDateTime(), files::deviceLineHeights(printer));
    QString error;
    if (!files::renderListing(printer, items, &error)) {
        services.messages.show(MessageIcon::Critical,
                               QStringLiteral("A print routine error occurred.  Please check "
                                              "your settings and try again."));
    }
}

} // namespace kqm::ui
