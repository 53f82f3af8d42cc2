#include "main_window/opening_window.h"
#include "platform/app_paths.h"
#include "platform/busy_cursor.h"
#include "platform/clock.h"
#include "platform/messages.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kqm-indexer"));
    QApplication::setOrganizationName(QStringLiteral("Quorvex Motion"));
    QApplication::setApplicationDisplayName(QStringLiteral("KQM20/KQM21 Programmable Indexer"));

    kqm::platform::DialogMessages messages;
    kqm::platform::SystemClock clock;
    kqm::platform::ExecutableAppPaths paths;
    kqm::platform::OverrideBusyCursor busyCursor;
    kqm::ui::Opening splash({messages, clock, paths, busyCursor});
    splash.Form_Load();
    return QApplication::exec();
}
