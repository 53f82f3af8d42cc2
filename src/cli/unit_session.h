#pragma once

#include "cli/console_messages.h"
#include "cli/interrupt_guard.h"
#include "link/connection.h"
#include "link/device_port.h"
#include "link/link.h"
#include "platform/clock.h"
#include "transfer/pace_policy.h"

#include <QString>
#include <QStringList>
#include <QTextStream>
#include <QTimer>

class QCommandLineParser;

#include <memory>
#include <optional>

namespace kqm::files {
class SettingsTable;
}

namespace kqm::cli {

// The options every command that talks to the unit takes.
struct LinkOptions {
    QString device;
    int baud = 9600;
    int axis = 0;
    QString file;   // send: the program file
    QString output; // upload: the new program file
    // send: read the program back and compare; keep the unit's program
    // first; the pause after each character.
    bool verify = false;
    QString backupDirectory;
    transfer::PaceRequest pace; // nothing asked: the pace policy's choice
    bool quiet = false;         // send: no progress
};

// --port DEVICE, --baud N (9600) and, with `axis`, --axis N (0): the options
// of every command that talks to a unit, and what they name. Nothing when
// they are right; otherwise why not, for the usage error.
void addPortOptions(QCommandLineParser& parser, bool axis = true);
std::optional<QString> readPortOptions(const QCommandLineParser& parser, struct LinkOptions& options,
                                       bool axis = true);

// Parses --port/--baud/--axis (and FILE or --output where the command takes
// them); nullopt, after the command's usage error, when they are wrong.
std::optional<LinkOptions> parseLinkOptions(const QStringList& arguments, const QString& command,
                                            QTextStream& err, bool takesFile = false);

// While it lives, an interrupt (Ctrl+C, SIGTERM, SIGHUP) ends the link's
// exchange at its next wait: for the greeting, the scan and the readout,
// which leave nothing half done in the unit. `stopped()` then says so.
class AbortOnInterrupt {
public:
    explicit AbortOnInterrupt(link::Link& link);
    bool stopped() const { return InterruptGuard::requested(); }

private:
    InterruptGuard m_guard;
    QTimer m_watch;
};
inline const QString InterruptedMessage = QStringLiteral("stopped (interrupted)");

// A unit on a device, reached through the same link and connection as the
// window's; messages become lines on standard error.
class UnitSession {
public:
    UnitSession(const LinkOptions& options, QTextStream& err);
    ~UnitSession();

    // Opens the device and identifies the unit; false after the window's
    // messages when it does not answer.
    bool connect();
    // Opens the device without greeting any unit; false after the reason
    // when it cannot be opened.
    bool openPort();

    link::Link& link() { return m_link; }
    const link::LinkState& state() const { return m_link.state(); }
    link::Connection& connection() { return m_connection; }
    platform::Messages& messages() { return m_messages; }
    const platform::Clock& clock() const { return m_clock; }

private:
    platform::SystemClock m_clock;
    ConsoleMessages m_messages;
    link::DevicePort m_port;
    link::LinkState m_state;
    link::Link m_link;
    link::Connection m_connection;
    int m_baud;
};

// The window's settings file, for the pace of the port that stands for a
// device; nullptr when there is none.
std::unique_ptr<files::SettingsTable> windowSettings();

// Parses the link options and identifies the unit; nullptr, with the exit
// status set, when either fails.
std::unique_ptr<UnitSession> connectedSession(const QStringList& arguments, const QString& command,
                                              QTextStream& err, int* status);

} // namespace kqm::cli
