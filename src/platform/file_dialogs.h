#pragma once

#include <QString>

#include <optional>

namespace kqm::platform {

// The open and save dialogs for program files; nullopt when the user cancels.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    virtual std::optional<QString> openFileName(const QString& directory,
                                                const QString& filter) = 0;
    virtual std::optional<QString> saveFileName(const QString& directory,
                                                const QString& filter) = 0;
};

} // namespace kqm::platform
