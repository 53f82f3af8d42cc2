// The settings values read at start-up: port, baud rate, axis and the
// clean-exit flag, stored as any text, through the real start-up code.
#include "files/settings_table.h"
#include "files/startup.h"
#include "fuzz_support.h"
#include "link/connection.h"
#include "link/link.h"
#include "platform/virtual_clock.h"
#include "simulator/simulated_port.h"

#include <QCoreApplication>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QList<QByteArray> parts =
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)).split('\n');
    static QTemporaryDir dir;
    const auto files = kqm::files::ProgramDirectoryFiles::in(dir.path());
    QString error;
    if (!kqm::files::SettingsTable::createDefaultFile(files.settings, &error))
        return 0;
    {
        kqm::files::SettingsTable settings;
        if (!settings.open(files.settings))
            return 0;
        const int records[4] = {1, 2, 3, 6};
        for (int i = 0; i < 4 && i < parts.size(); ++i)
            settings.setRecord(records[i], QString::fromLatin1(parts.at(i)));
    }
    kqm::fuzz::QuietMessages messages;
    kqm::files::SettingsTable settings;
    const auto outcome = kqm::files::LoadDatabases(files, settings, messages);
    KQM_FUZZ_CHECK(outcome.ok);
    kqm::platform::VirtualClock clock;
    kqm::simulator::SimulatedPort port(clock);
    kqm::link::LinkState state;
    kqm::link::Link link(port, clock, messages, state);
    kqm::link::Connection connection(link);
    const int item = connection.LoadCommSettings(kqm::files::readCommSettings(settings));
    KQM_FUZZ_CHECK(item >= -1 && item <= 31);
    KQM_FUZZ_CHECK(state.ComPortNumber >= 1 && state.BaudRate >= 1);
    KQM_FUZZ_CHECK(state.AxisAddress.size() <= 2);
    return 0;
}
