#include "files/listing_printer.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

#include <cmath>

namespace kqm::files {

namespace {

QFont fontFor(const QPrinter& printer, int pointSize, bool bold, bool italic) {
    Q_UNUSED(printer);
    QFont font;
    font.setPointSize(pointSize);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

double toDevice(int twips, const QPrinter& printer) {
    return twips * printer.resolution() / 1440.0;
}

} // namespace

bool QtPrintDialogs::choosePrinter(QPrinter& printer) {
    QPrintDialog dialog(&printer, m_parent);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    return dialog.exec() == QDialog::Accepted;
}

LineHeights PrinterLineHeights(QPrinter& printer) {
    const auto height = [&printer](int size) {
        const QFontMetricsF metrics(fontFor(printer, size, false, false), &printer);
        return static_cast<int>(std::lround(metrics.height() * 1440.0 / printer.resolution()));
    };
    return {height(12), height(10)};
}

bool RenderListing(QPrinter& printer, const QVector<PlacedText>& items, QString* error) {
    QPainter painter;
    if (!painter.begin(&printer)) {
        if (error)
            *error = QStringLiteral("the printer could not be started");
        return false;
    }
    int page = 0;
    for (const PlacedText& item : items) {
        while (page < item.page) {
            if (!printer.newPage()) {
                if (error)
                    *error = QStringLiteral("the printer could not start a new page");
                painter.end();
                return false;
            }
            ++page;
        }
        const QFont font = fontFor(printer, item.pointSize, item.bold, item.italic);
        painter.setFont(font);
        const QFontMetricsF metrics(font, &printer);
        painter.drawText(
            QPointF(toDevice(item.x, printer), toDevice(item.y, printer) + metrics.ascent()),
            item.text);
    }
    if (!painter.end()) {
        if (error)
            *error = QStringLiteral("the document could not be finished");
        return false;
    }
    return true;
}

void UsePdfFile(QPrinter& printer, const QString& path) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
}

} // namespace kqm::files
