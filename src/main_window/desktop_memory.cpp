#include "main_window/desktop_memory.h"

#include "files/program_files.h"
#include "files/settings_table.h"

#include "main_window/session.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

namespace kqm::ui {

namespace {

// One path a line: no file name holds a line break.
const QChar Separator = QLatin1Char('\n');

bool storeList(files::SettingsTable& settings, const QString& list, const QStringList& paths) {
    return settings.setPreference(list, paths.join(Separator));
}

} // namespace

QStringList recentPrograms(files::SettingsTable& settings, const QString& list) {
    const QString stored = settings.preference(list).value_or(QString());
    QStringList paths = stored.split(Separator, Qt::SkipEmptyParts);
    while (paths.size() > desktop::RecentProgramLimit)
        paths.removeLast();
    return paths;
}

bool rememberRecentProgram(files::SettingsTable& settings, const QString& path,
                           const QString& list) {
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QStringList paths = recentPrograms(settings, list);
    paths.removeIf([&absolute](const QString& kept) { return files::sameFile(kept, absolute); });
    paths.prepend(absolute);
    while (paths.size() > desktop::RecentProgramLimit)
        paths.removeLast();
    return storeList(settings, list, paths);
}

bool forgetRecentProgram(files::SettingsTable& settings, const QString& path, const QString& list) {
    QStringList paths = recentPrograms(settings, list);
    paths.removeAll(path);
    return storeList(settings, list, paths);
}

std::optional<WindowPlace> storedWindowPlace(files::SettingsTable& settings) {
    const QStringList fields = settings.preference(desktop::WindowGeometryPreference)
                                   .value_or(QString())
                                   .split(QLatin1Char(','));
    if (fields.size() != 5)
        return std::nullopt;
    int numbers[5] = {};
    for (int i = 0; i < 5; ++i) {
        bool ok = false;
        numbers[i] = fields.at(i).trimmed().toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    const QRect geometry(numbers[0], numbers[1], numbers[2], numbers[3]);
    if (geometry.width() < 100 || geometry.height() < 100)
        return std::nullopt;
    return WindowPlace{geometry, numbers[4] != 0};
}

bool storeWindowPlace(files::SettingsTable& settings, const WindowPlace& place) {
    const QRect& r = place.geometry;
    return settings.setPreference(desktop::WindowGeometryPreference,
                                  QStringLiteral("%1,%2,%3,%4,%5")
                                      .arg(r.x())
                                      .arg(r.y())
                                      .arg(r.width())
                                      .arg(r.height())
                                      .arg(place.maximized ? 1 : 0));
}

void fillRecentMenu(QMenu* menu, Session& session, const QString& list, const QString& namePrefix,
                    const std::function<void(const QString&)>& open) {
    // The menu may be rebuilt from one of its own items: old items go later.
    for (QAction* old : menu->actions()) {
        menu->removeAction(old);
        old->deleteLater();
    }
    const QStringList paths =
        session.settings.isOpen() ? recentPrograms(session.settings, list) : QStringList();
    for (int i = 0; i < paths.size(); ++i) {
        const QString& path = paths.at(i);
        QString caption = QDir::toNativeSeparators(path);
        caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction* recent = menu->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(caption));
        recent->setObjectName(QStringLiteral("%1(%2)").arg(namePrefix).arg(i));
        recent->setData(path);
        QObject::connect(recent, &QAction::triggered, menu, [&session, open, path] {
            if (!session.link.refuseWhenBusy())
                open(path);
        });
    }
    if (paths.isEmpty()) {
        QAction* none = menu->addAction(QStringLiteral("(none)"));
        none->setObjectName(namePrefix + QStringLiteral("None"));
        none->setEnabled(false);
    }
}

} // namespace kqm::ui
