#include "main_window/tab_keys.h"

#include <QAction>
#include <QKeySequence>
#include <QTabBar>
#include <QTabWidget>
#include <QWidget>

namespace kqm::ui {

namespace {

void stepTab(QTabWidget* tabs, int step) {
    const int count = tabs->count();
    for (int i = 1; i < count; ++i) {
        const int tab = ((tabs->currentIndex() + step * i) % count + count) % count;
        if (tabs->isTabEnabled(tab) && tabs->isTabVisible(tab)) {
            tabs->setCurrentIndex(tab);
            return;
        }
    }
}

} // namespace

void addTabKeys(QWidget* window, QTabWidget* tabs) {
    const auto tabKey = [window, tabs](const QString& name, const char* objectName,
                                       const QList<QKeySequence>& keys, int step) {
        auto* action = new QAction(name, window);
        action->setObjectName(QString::fromLatin1(objectName));
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        window->addAction(action);
        QObject::connect(action, &QAction::triggered, tabs, [tabs, step] { stepTab(tabs, step); });
    };
    tabKey(QStringLiteral("Next Tab"), "actNextTab",
           {QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)}, 1);
    tabKey(QStringLiteral("Previous Tab"), "actPreviousTab",
           {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
            QKeySequence(Qt::CTRL | Qt::Key_PageUp)},
           -1);
}

void shareKeysWithTabBar(QTabWidget* tabs, int page, const QList<QAction*>& keys) {
    const auto follow = [tabs, page, keys] {
        QTabBar* bar = tabs->tabBar();
        const bool shown = tabs->currentIndex() == page;
        for (QAction* action : keys) {
            if (shown)
                bar->addAction(action);
            else
                bar->removeAction(action);
        }
    };
    QObject::connect(tabs, &QTabWidget::currentChanged, tabs, follow);
    follow();
}

} // namespace kqm::ui
