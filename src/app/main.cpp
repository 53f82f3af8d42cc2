#include "dryrun/unit_run.h"
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
#include "version.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <optional>
#include <utility>

namespace {

// The program file named on the command line is opened through File > Open
// Program itself: this answers that command's open dialog once with the
// file, so the backup, the checks and the messages are the menu's own.
class StartUpFileDialogs final : public kqm::platform::FileDialogs {
public:
    explicit StartUpFileDialogs(kqm::platform::FileDialogs& dialogs) : m_dialogs(dialogs) {}
    void answerNextOpenWith(const QString& file) { m_nextOpen = file; }

    using FileDialogs::openFileName;
    std::optional<QString> openFileName(const QString& directory, const QString& filter,
                                        const QString& title) override {
        if (!m_nextOpen)
            return m_dialogs.openFileName(directory, filter, title);
        std::optional<QString> file = std::move(m_nextOpen);
        m_nextOpen.reset();
        return file;
    }
    using FileDialogs::saveFileName;
    std::optional<QString> saveFileName(const QString& directory, const QString& filter,
                                        const QString& title) override {
        return m_dialogs.saveFileName(directory, filter, title);
    }

private:
    kqm::platform::FileDialogs& m_dialogs;
    std::optional<QString> m_nextOpen;
};

struct CommandLine {
    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Shows this help and exits.")};
    QCommandLineOption version{QStringLiteral("version"),
                               QStringLiteral("Shows the version and exits.")};

    CommandLine() {
        parser.setApplicationDescription(
            QStringLiteral("The programming tool for KQM20/KQM21 indexers."));
        parser.addOption(help);
        parser.addOption(version);
        parser.addPositionalArgument(
            QStringLiteral("FILE"),
            QStringLiteral("A program file to open at start-up, as File > Open Program does."),
            QStringLiteral("[FILE]"));
    }
};

QStringList rawArguments(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

} // namespace

int main(int argc, char* argv[]) {
    // --help and --version answer before any window system is touched, so
    // they work without a display. The window system's own options (-style,
    // -platform) are not known yet and do not count as errors here.
    CommandLine commandLine;
    commandLine.parser.parse(rawArguments(argc, argv));
    if (commandLine.parser.isSet(commandLine.version) ||
        commandLine.parser.isSet(commandLine.help)) {
        const QCoreApplication core(argc, argv);
        QTextStream out(stdout);
        if (commandLine.parser.isSet(commandLine.version))
            out << "kqm-indexer " KQM_VERSION << Qt::endl;
        else
            out << commandLine.parser.helpText() << Qt::flush;
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kqm-indexer"));
    QApplication::setOrganizationName(QStringLiteral("Quorvex Motion"));
    // No display name: the platform would add it to a window title that
    // names the product already.

    // QApplication has taken its own options out of the arguments by now.
    CommandLine own;
    const bool parsed = own.parser.parse(QApplication::arguments());
    const QStringList fileArguments = own.parser.positionalArguments();
    if (!parsed || fileArguments.size() > 1) {
        const QString why =
            parsed
                ? QStringLiteral("only one FILE can be opened, not '%1'").arg(fileArguments.at(1))
                : own.parser.errorText();
        QTextStream err(stderr);
        err << "kqm-indexer: " << why << '\n' << own.parser.helpText() << Qt::flush;
        return 2;
    }

    kqm::platform::DialogMessages messages;
    kqm::platform::SystemClock clock;
    kqm::platform::ExecutableAppPaths paths;
    kqm::platform::OverrideBusyCursor busyCursor;
    const auto programDirectory = kqm::files::ProgramDirectoryFiles::of(paths);
    // A second start never binds, resets or recovers the working copy that
    // a running window holds.
    const kqm::files::DirectoryClaim claim = kqm::files::claimProgramDirectory(programDirectory);
    if (!claim.held()) {
        QTextStream(stderr) << "kqm-indexer: " << claim.refusal << Qt::endl;
        messages.show(kqm::platform::MessageIcon::Warning, claim.refusal,
                      kqm::platform::MessageButtons::Ok);
        return 1;
    }
    kqm::link::DevicePort port(kqm::link::settingsFileResolver(programDirectory.settings),
                               kqm::link::deviceFactory([&clock] {
                                   auto unit =
                                       std::make_unique<kqm::simulator::SimulatedPort>(clock);
                                   unit->line().setProgramRunner(kqm::dryrun::unitProgramRunner());
                                   return unit;
                               }));
    kqm::platform::QtFileDialogs qtFileDialogs;
    StartUpFileDialogs fileDialogs(qtFileDialogs);
    kqm::files::AtomicFileCopier fileCopier;
    kqm::files::QtPrintDialogs printDialogs;

    // The session outlives both windows.
    kqm::ui::Session session(
        {messages, clock, paths, busyCursor, port, fileDialogs, fileCopier, printDialogs});
    kqm::ui::Opening splash;
    kqm::ui::Form1 form(session);
    kqm::ui::startUp(splash, form);
    if (!fileArguments.isEmpty()) {
        auto* openProgram = form.findChild<QAction*>(QStringLiteral("mnuOpenProgram"));
        if (openProgram) {
            fileDialogs.answerNextOpenWith(QFileInfo(fileArguments.first()).absoluteFilePath());
            // Once the window shows, so that its messages have it behind them.
            QTimer::singleShot(0, openProgram, &QAction::trigger);
        }
    }
    return QApplication::exec();
}
