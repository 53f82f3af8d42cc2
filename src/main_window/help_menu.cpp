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
    QSet<const QAction*> listed;
    const std::function<void(const QList<QAction*>&, const QString&)> walk =
        [&](const QList<QAction*>& actions, const QString& place) {
            for (const QAction* action : actions) {
                listed.insert(action);
                const QString name = place.isEmpty()
                                         ? plain(action->text())
                                         : place + QStringLiteral(" > ") + plain(action->text());
                if (action->menu()) {
                    walk(action->menu()->actions(), name);
                } else if (!action->shortcuts().isEmpty()) {
                    QStringList keys;
                    for (const QKeySequence& key : action->shortcuts())
                        keys << key.toString(QKeySequence::NativeText);
                    list.append({name, keys.join(QStringLiteral(", "))});
                }
            }
        };
    walk(menus->actions(), QString());
    // Keys of the window that no menu shows (Ctrl+S), named by their place.
    QList<QAction*> unlisted;
    for (QAction* action : windowActions) {
        if (!listed.contains(action))
            unlisted << action;
    }
    walk(unlisted, QString());
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
