#pragma once

#include "files/file_copy.h"
#include "files/listing_printer.h"
#include "platform/file_dialogs.h"

#include <QPrinter>
#include <QStringList>

#include <functional>
#include <optional>

namespace kqm::test {

// File dialogs that answer from a script: a name, or cancel (nullopt).
class FakeFileDialogs final : public platform::FileDialogs {
public:
    using FileDialogs::openFileName;
    std::optional<QString> openFileName(const QString& directory, const QString& filter,
                                        const QString& title) override {
        lastTitle = title;
        return answer(directory, filter);
    }
    using FileDialogs::saveFileName;
    std::optional<QString> saveFileName(const QString& directory, const QString& filter,
                                        const QString& title) override {
        lastTitle = title;
        return answer(directory, filter);
    }
    void choose(std::optional<QString> name) { m_script << name; }
    QString lastDirectory;
    QString lastFilter;
    QString lastTitle;
    int shown = 0;

private:
    std::optional<QString> answer(const QString& directory, const QString& filter) {
        ++shown;
        lastDirectory = directory;
        lastFilter = filter;
        return m_script.isEmpty() ? std::nullopt : m_script.takeFirst();
    }
    QList<std::optional<QString>> m_script;
};

// Copies for real unless told to fail the next copy as a full or
// write-protected disk would.
class FakeFileCopier final : public files::FileCopier {
public:
    files::CopyResult copy(const QString& source, const QString& destination) override {
        copies << source + QStringLiteral(" -> ") + destination;
        if (m_failNext != files::CopyResult::Failure::None) {
            files::CopyResult failed{m_failNext, QStringLiteral("simulated failure")};
            m_failNext = files::CopyResult::Failure::None;
            return failed;
        }
        return files::copyFileReplacing(source, destination);
    }
    void failNext(files::CopyResult::Failure failure) { m_failNext = failure; }
    QStringList copies;

private:
    files::CopyResult::Failure m_failNext = files::CopyResult::Failure::None;
};

// A print dialog that "chooses" a PDF file, or cancels.
class PdfPrintDialogs final : public files::PrintDialogs {
public:
    bool choosePrinter(QPrinter& printer, const QString& suggestedPdf) override {
        ++shown;
        suggested = suggestedPdf;
        if (whileOpen)
            whileOpen();
        if (pdfPath.isEmpty())
            return false;
        files::usePdfFile(printer, pdfPath);
        return true;
    }
    QString pdfPath;
    std::function<void()> whileOpen; // another program's change while it is open
    QString suggested; // what the last dialog offered
    int shown = 0;
};

} // namespace kqm::test
