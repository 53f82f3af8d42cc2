#pragma once

#include "platform/file_dialogs.h"

class QWidget;

namespace kqm::platform {

class QtFileDialogs final : public FileDialogs {
public:
    explicit QtFileDialogs(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }
    using FileDialogs::openFileName;
    std::optional<QString> openFileName(const QString& directory, const QString& filter,
                                        const QString& title) override;
    using FileDialogs::saveFileName;
    std::optional<QString> saveFileName(const QString& directory, const QString& filter,
                                        const QString& title) override;

private:
    QWidget* m_parent = nullptr;
};

} // namespace kqm::platform
