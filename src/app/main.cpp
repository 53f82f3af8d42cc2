#include "files/file_copy.h"
#include "files/listing_printer.h"
#include "files/startup.h"
#include "link/device_port.h"
#include "main_window/main_window.h"
#include "main_window/opening_window.h"
#include "main_window/session.h"
#include "platform/app_paths.h"
#include "platform/clock.h"
#include "platform/dialog_messages.h"
#include "platform/override_busy_cursor.h"
#include "platform/qt_file_dialogs.h"
#include "simulator/simulated_port.h"

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
    const auto files = kqm::files::ProgramDirectoryFiles::in(paths.programDirectory());
    kqm::link::DevicePort port(kqm::link::settingsFileResolver(files.settings),
                               kqm::link::deviceFactory([&clock] {
                                   return std::make_unique<kqm::simulator::SimulatedPort>(clock);
                               }));
    kqm::platform::QtFileDialogs fileDialogs;
    kqm::files::AtomicFileCopier fileCopier;
    kqm::files::QtPrintDialogs printDialogs;

    // The session outlives both windows.
    kqm::ui::Session session(
        {messages, clock, paths, busyCursor, port, fileDialogs, fileCopier, printDialogs});
    kqm::ui::Opening splash;
    kqm::ui::Form1 form(session);
    kqm::ui::startUp(splash, form);
    return QApplication::exec();
}
