#pragma once

#include <QString>

#include <optional>

namespace kqm::platform {

// The open and save dialogs for program files; nullopt when the user cancels.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // Each dialog is titled for what it does: "Open Machine", "Export Program".
    std::optional<QString> openFileName(const QString& directory, const QString& filter) {
        return openFileName(directory, filter, QStringLiteral("Open Program"));
    }
    virtual std::optional<QString> openFileName(const QString& directory, const QString& filter,
                                                const QString& title) = 0;
    // `directory` may name the file offered, too.
    std::optional<QString> saveFileName(const QString& directory, const QString& filter) {
        return saveFileName(directory, filter, QStringLiteral("Save Program As"));
    }
    virtual std::optional<QString> saveFileName(const QString& directory, const QString& filter,
                                                const QString& title) = 0;
};

} // namespace kqm::platform
