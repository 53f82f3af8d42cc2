#include "platform/qt_file_dialogs.h"

#include <QFileDialog>

namespace kqm::platform {

std::optional<QString> QtFileDialogs::openFileName(const QString& directory, const QString& filter,
                                                   const QString& title) {
    const QString name = QFileDialog::getOpenFileName(m_parent, title, directory, filter);
    return name.isEmpty() ? std::nullopt : std::optional<QString>(name);
}

std::optional<QString> QtFileDialogs::saveFileName(const QString& directory, const QString& filter,
                                                   const QString& title) {
    const QString name = QFileDialog::getSaveFileName(m_parent, title, directory, filter);
    return name.isEmpty() ? std::nullopt : std::optional<QString>(name);
}

} // namespace kqm::platform
