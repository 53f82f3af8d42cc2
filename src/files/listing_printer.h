#pragma once

#include "files/listing_render.h"

class QPrinter;
class QWidget;

namespace kqm::files {

// The print dialog; false when the user cancels. suggestedPdf is the file
// offered for printing to a PDF file.
class PrintDialogs {
public:
    virtual ~PrintDialogs() = default;
    virtual bool choosePrinter(QPrinter& printer, const QString& suggestedPdf) = 0;
};

class QtPrintDialogs final : public PrintDialogs {
public:
    explicit QtPrintDialogs(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }
    bool choosePrinter(QPrinter& printer, const QString& suggestedPdf) override;

private:
    QWidget* m_parent = nullptr;
};

// A printer that writes a PDF file.
void usePdfFile(QPrinter& printer, const QString& path);

} // namespace kqm::files
