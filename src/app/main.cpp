#include "files/file_copy.h"
#include "files/listing_printer.h"
#include "files/startup.h"
#include "link/device_port.h"
#include "link/qt_serial_port.h"
#include "main_window/opening_window.h"
#include "platform/app_paths.h"
#include "platform/busy_cursor.h"
#include "platform/clock.h"
#include "platform/file_dialogs.h"
#include "platform/messages.h"
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
    const auto files = kqm::files::ProgramDirectoryFiles::In(paths.programDirectory());
    kqm::link::DevicePort port(
        kqm::link::SettingsFileResolver(files.settings),
        [&clock](const QString& device) -> std::unique_ptr<kqm::platform::SerialPort> {
            if (device == kqm::link::SimulatedDevice)
                return std::make_unique<kqm::simulator::SimulatedPort>(clock);
            return std::make_unique<kqm::link::QtSerialPort>(device);
        });
    kqm::platform::QtFileDialogs fileDialogs;
    kqm::files::AtomicFileCopier fileCopier;
    kqm::files::QtPrintDialogs printDialogs;
    kqm::ui::Opening splash(
        {messages, clock, paths, busyCursor, port, fileDialogs, fileCopier, printDialogs});
    splash.Form_Load();
    return QApplication::exec();
}
