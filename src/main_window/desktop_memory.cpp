#include "main_window/desktop_memory.h"

#include "files/program_files.h"
#include "files/settings_table.h"

#include "main_window/session.h"
#include "platform/messages.h"
#include "platform/window_placement.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QScreen>
#include <QWidget>

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

void fillRecentMenu(QMenu* menu, Session& session, const RecentList& list,
                    const std::function<void(const QString&)>& open) {
    // The menu may be rebuilt from one of its own items: old items go later.
    for (QAction* old : menu->actions()) {
        menu->removeAction(old);
        old->deleteLater();
    }
    const QStringList paths = session.settings.isOpen()
                                  ? recentPrograms(session.settings, list.preference)
                                  : QStringList();
    for (int i = 0; i < paths.size(); ++i) {
        const QString& path = paths.at(i);
        QString caption = QDir::toNativeSeparators(path);
        caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction* recent = menu->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(caption));
        recent->setObjectName(QStringLiteral("%1(%2)").arg(list.namePrefix).arg(i));
        recent->setData(path);
        QObject::connect(recent, &QAction::triggered, menu, [menu, &session, list, open, path] {
            if (session.link.exchanges().refuseWhenBusy())
                return;
            if (QFileInfo::exists(path)) {
                open(path);
                return;
            }
            session.services.messages.show(
                platform::MessageIcon::Warning,
                QStringLiteral("The %1 %2 is no longer there. It has been taken off the %3.")
                    .arg(list.kind, QDir::toNativeSeparators(path), list.menuName));
            if (session.settings.isOpen())
                forgetRecentProgram(session.settings, path, list.preference);
            fillRecentMenu(menu, session, list, open);
        });
    }
    if (paths.isEmpty()) {
        QAction* none = menu->addAction(QStringLiteral("(none)"));
        none->setObjectName(list.namePrefix + QStringLiteral("None"));
        none->setEnabled(false);
    }
}

void restoreWindowPlace(QWidget* window, files::SettingsTable& settings, const QSize& firstSize) {
    const std::optional<WindowPlace> place =
        settings.isOpen() ? storedWindowPlace(settings) : std::nullopt;
    if (!place) {
        // The first start: large enough for the Motion tab whole, where the
        // screen allows.
        if (const QScreen* screen = window->screen()) {
            const QSize wanted = firstSize.isValid() ? firstSize
                                                     : window->sizeHint().expandedTo(window->size());
            window->setGeometry(platform::firstWindowPlace(wanted, screen->availableGeometry()));
        }
        return;
    }
    // The screens may have changed since: a window off every screen comes back.
    window->setGeometry(platform::keepOnScreens(place->geometry, platform::availableScreenAreas()));
    if (place->maximized)
        window->setWindowState(window->windowState() | Qt::WindowMaximized);
}

void placeAtFirstStart(QWidget* window, files::SettingsTable& settings, const QWidget* later) {
    if (settings.isOpen() && storedWindowPlace(settings))
        return;
    // A hint under the buttons wraps to two lines at this width.
    const QSize room = later && later->isHidden()
                           ? QSize(0, window->fontMetrics().lineSpacing() * 2 + 24)
                           : QSize();
    restoreWindowPlace(window, settings, window->sizeHint().expandedTo(window->size()) + room);
}

void keepWindowPlace(const QWidget* window, files::SettingsTable& settings) {
    const bool maximized = window->isMaximized();
    storeWindowPlace(settings,
                     {maximized ? window->normalGeometry() : window->geometry(), maximized});
}

} // namespace kqm::ui
