#pragma once

#include <QString>

#include <optional>

class QWidget;

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

class QtFileDialogs final : public FileDialogs {
public:
    explicit QtFileDialogs(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }
    std::optional<QString> openFileName(const QString& directory, const QString& filter) override;
    std::optional<QString> saveFileName(const QString& directory, const QString& filter) override;

private:
    QWidget* m_parent = nullptr;
};

} // namespace kqm::platform
