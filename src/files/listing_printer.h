#pragma once

#include "files/printed_listing.h"

#include <QString>

class QPrinter;
class QWidget;

namespace kqm::files {

// The print dialog; false when the user cancels.
class PrintDialogs {
public:
    virtual ~PrintDialogs() = default;
    virtual bool choosePrinter(QPrinter& printer) = 0;
};

class QtPrintDialogs final : public PrintDialogs {
public:
    explicit QtPrintDialogs(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }
    bool choosePrinter(QPrinter& printer) override;

private:
    QWidget* m_parent = nullptr;
};

// The heights of the listing's two font sizes on this printer, in twips.
LineHeights PrinterLineHeights(QPrinter& printer);

// Draws placed text on the printer, page by page; false (with a reason) when
// the printer cannot be drawn on.
bool RenderListing(QPrinter& printer, const QVector<PlacedText>& items, QString* error);

// A printer that writes a PDF file.
void UsePdfFile(QPrinter& printer, const QString& path);

} // namespace kqm::files
