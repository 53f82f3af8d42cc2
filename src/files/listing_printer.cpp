#include "files/listing_printer.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>

namespace kqm::files {

bool QtPrintDialogs::choosePrinter(QPrinter& printer, const QString& suggestedPdf) {
    // The job's name on a printer; the dialog reads it as it is made.
    printer.setDocName(QFileInfo(suggestedPdf).completeBaseName());
    QPrintDialog dialog(&printer, m_parent);
    // Qt's own dialog offers a PDF file in the current or home folder. Its
    // file box is given the program's instead; setting the printer's output
    // file would make the PDF the chosen printer, over the user's default.
    if (auto* file = dialog.findChild<QLineEdit*>(QStringLiteral("filename")))
        file->setText(suggestedPdf);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    return dialog.exec() == QDialog::Accepted;
}

void usePdfFile(QPrinter& printer, const QString& path) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
}

} // namespace kqm::files
