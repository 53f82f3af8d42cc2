// The Help menu: About, and the keyboard shortcuts read from the menus.
#include "main_window/help_menu.h"

#include "platform/app_paths.h"
#include "platform/messages.h"
#include "version.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QHash>
#include <QSet>
#include <QTableWidget>
#include <QVBoxLayout>

#include <functional>

namespace kqm::ui {

using platform::MessageIcon;

void showAbout(platform::Messages& messages, const platform::AppPaths& paths) {
    messages.show(MessageIcon::Information,
                  QStringLiteral("KQM20/KQM21 programming tool, version %1\n"
                                 "Licence: MIT\n"
                                 "Qt %2 (built with %3)\n\n"
                                 "Program directory (settings, template, working copy):\n%4\n\n"
                                 "Per-user data (unit backups):\n%5")
                      .arg(QStringLiteral(KQM_VERSION), QString::fromLatin1(qVersion()),
                           QStringLiteral(QT_VERSION_STR),
                           QDir::toNativeSeparators(paths.programDirectory()),
                           QDir::toNativeSeparators(paths.userDataDirectory())));
}

QList<QPair<QString, QString>> shortcutList(const QMenuBar* menus,
                                            const QList<QAction*>& windowActions) {
    QList<QPair<QString, QString>> list;
    const auto plain = [](QString text) {
        text.remove(QStringLiteral("..."));
        text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
        text.remove(QLatin1Char('&'));
        text.replace(QStringLiteral("\x01"), QStringLiteral("&"));
        return text;
    };
    // Keys of the window that no menu shows (Ctrl+S) come after the menu
    // item they belong beside, or at the end.
    QHash<QString, QList<const QAction*>> besides;
    QList<const QAction*> unplaced;
    const auto inMenus = [menus](const QAction* action) {
        for (const QAction* menu : menus->actions()) {
            if (menu->menu() && menu->menu()->actions().contains(const_cast<QAction*>(action)))
                return true;
        }
        return false;
    };
    for (const QAction* action : windowActions) {
        if (inMenus(action) || action->shortcuts().isEmpty())
            continue;
        const QString after = action->property("listedAfter").toString();
        if (after.isEmpty())
            unplaced << action;
        else
            besides[after] << action;
    }
    const auto keysOf = [](const QAction* action) {
        QStringList keys;
        for (const QKeySequence& key : action->shortcuts())
            keys << key.toString(QKeySequence::NativeText)
                        .replace(QLatin1String("Backtab"), QLatin1String("Tab")); // as the keycap says
        return keys.join(QStringLiteral(", "));
    };
    QSet<const QAction*> listed;
    const std::function<void(const QList<QAction*>&, const QString&)> walk =
        [&](const QList<QAction*>& actions, const QString& place) {
            for (const QAction* action : actions) {
                if (listed.contains(action))
                    continue;
                listed.insert(action);
                // A text that names what it would do now (Undo Add line 5)
                // is listed by the name it always has.
                const QVariant fixed = action->property("fixedName");
                const QString text = plain(fixed.isValid() ? fixed.toString() : action->text());
                const QString name =
                    place.isEmpty() ? text : place + QStringLiteral(" > ") + text;
                if (action->menu())
                    walk(action->menu()->actions(), name);
                else if (!action->shortcuts().isEmpty())
                    list.append({name, keysOf(action)});
                for (const QAction* beside : besides.value(action->objectName())) {
                    listed.insert(beside);
                    list.append({plain(beside->text()), keysOf(beside)});
                }
            }
        };
    walk(menus->actions(), QString());
    for (const QAction* action : std::as_const(unplaced)) {
        if (!listed.contains(action))
            list.append({plain(action->text()), keysOf(action)});
    }
    // Keys every dialog and tool window takes.
    list.append({QStringLiteral("Close a dialog, a box or the calculator"),
                 QKeySequence(Qt::Key_Escape).toString(QKeySequence::NativeText)});
    return list;
}

void showKeyboardShortcuts(const QList<QPair<QString, QString>>& list, QWidget* parent) {
    auto* dialog = new QDialog(parent);
    dialog->setObjectName(QStringLiteral("dlgKeyboardShortcuts"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Keyboard Shortcuts"));
    auto* table = new QTableWidget(static_cast<int>(list.size()), 2, dialog);
    table->setObjectName(QStringLiteral("tblShortcuts"));
    table->setHorizontalHeaderLabels({QStringLiteral("Command"), QStringLiteral("Keys")});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    for (int row = 0; row < list.size(); ++row) {
        table->setItem(row, 0, new QTableWidgetItem(list.at(row).first));
        table->setItem(row, 1, new QTableWidgetItem(list.at(row).second));
    }
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(true);
    auto* note = new QLabel(QStringLiteral("A double-click on a program line changes it, as "
                                           "Enter does."));
    note->setObjectName(QStringLiteral("lblShortcutsNote"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    buttons->setObjectName(QStringLiteral("btnShortcutsClose"));
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(table, 1);
    layout->addWidget(note);
    layout->addWidget(buttons);
    dialog->resize(520, 480);
    dialog->show();
}

} // namespace kqm::ui
