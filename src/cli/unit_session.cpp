#include "cli/unit_session.h"

#include "cli/command_line.h"
#include "cli/list_command.h"
#include "dryrun/unit_run.h"
#include "files/settings_table.h"
#include "files/startup.h"
#include "platform/app_paths.h"
#include "simulator/simulated_port.h"

#include <QFileInfo>

#include <QCommandLineParser>

namespace kqm::cli {

void addPortOptions(QCommandLineParser& parser, bool axis) {
    parser.addOption({QStringLiteral("port"), QStringLiteral("device"), QStringLiteral("DEVICE")});
    parser.addOption({QStringLiteral("baud"), QStringLiteral("baud rate"), QStringLiteral("N"),
                      QStringLiteral("9600")});
    if (axis)
        parser.addOption({QStringLiteral("axis"), QStringLiteral("axis address"),
                          QStringLiteral("N"), QStringLiteral("0")});
}

std::optional<QString> readPortOptions(const QCommandLineParser& parser, LinkOptions& options,
                                       bool axis) {
    options.device = parser.value(QStringLiteral("port"));
    if (options.device.isEmpty())
        return QStringLiteral("--port is required");
    if (const auto refused = link::baudRefusal(parser.value(QStringLiteral("baud"))))
        return refused;
    options.baud = parser.value(QStringLiteral("baud")).toInt();
    if (!axis)
        return std::nullopt;
    bool axisOk = false;
    options.axis = parser.value(QStringLiteral("axis")).toInt(&axisOk);
    if (!axisOk || options.axis < 0 || options.axis > 31)
        return QStringLiteral("--axis takes a number from 0 to 31");
    return std::nullopt;
}

std::optional<LinkOptions> parseLinkOptions(const QStringList& arguments, const QString& command,
                                            QTextStream& err, bool takesFile) {
    QCommandLineParser parser;
    addPortOptions(parser);
    parser.addOption(
        {QStringLiteral("output"), QStringLiteral("new program file"), QStringLiteral("FILE")});
    if (takesFile) {
        parser.addOption({QStringLiteral("verify"), QStringLiteral("read the program back")});
        parser.addOption(
            {QStringLiteral("backup-dir"), QStringLiteral("backup folder"), QStringLiteral("DIR")});
        parser.addOption({QStringLiteral("pace"), QStringLiteral("seconds per character"),
                          QStringLiteral("SECONDS")});
        parser.addOption({QStringLiteral("quiet"), QStringLiteral("no progress")});
    }
    const auto fail = [&](const QString& why) -> std::optional<LinkOptions> {
        usageError(command, why, err);
        return std::nullopt;
    };
    if (!parser.parse(QStringList{QStringLiteral("kqmctl")} + arguments))
        return fail(parserError(parser));
    QStringList positional = parser.positionalArguments();
    LinkOptions options;
    if (takesFile) {
        if (positional.isEmpty())
            return fail(QStringLiteral("a program FILE is required"));
        options.file = positional.takeFirst();
        options.verify = parser.isSet(QStringLiteral("verify"));
        options.backupDirectory = parser.value(QStringLiteral("backup-dir"));
        options.quiet = parser.isSet(QStringLiteral("quiet"));
        if (parser.isSet(QStringLiteral("pace"))) {
            QString why;
            const auto pace =
                transfer::parsePaceRequest(parser.value(QStringLiteral("pace")), &why);
            if (!pace)
                return fail(why);
            options.pace = *pace;
            // A faster pace is only ever used with the program read back.
            if (pace->kind == transfer::PaceRequest::Kind::Proven ||
                pace->pace < transfer::SurePace)
                options.verify = true;
        }
    }
    if (!positional.isEmpty())
        return fail(QStringLiteral("unexpected argument '%1'").arg(positional.at(0)));
    options.output = parser.value(QStringLiteral("output"));
    if (const auto why = readPortOptions(parser, options))
        return fail(*why);
    return options;
}

AbortOnInterrupt::AbortOnInterrupt(link::Link& link) {
    QObject::connect(&m_watch, &QTimer::timeout, &m_watch, [&link] {
        if (InterruptGuard::requested())
            link.exchanges().requestAbort();
    });
    m_watch.start(20);
}

UnitSession::UnitSession(const LinkOptions& options, QTextStream& err)
    : m_messages(err),
      m_port([device = options.device](int) { return device; }, link::deviceFactory([this] {
                 auto unit = std::make_unique<simulator::SimulatedPort>(m_clock);
                 unit->line().setProgramRunner(dryrun::unitProgramRunner());
                 return unit;
             })),
      m_link(m_port, m_clock, m_messages, m_state), m_connection(m_link), m_baud(options.baud) {
    m_link.chooseAddress(QString::number(options.axis));
}

UnitSession::~UnitSession() {
    m_link.disconnectUnit();
}

bool UnitSession::connect() {
    // kqmctl names the device itself, so port number 1 stands for it.
    AbortOnInterrupt interrupt(m_link);
    const bool connected = m_connection.connectTo(m_baud, 1);
    if (interrupt.stopped()) {
        m_link.disconnectUnit();
        m_messages.show(platform::MessageIcon::None,
                        QStringLiteral("kqmctl: %1 while the unit was greeted; nothing was sent")
                            .arg(InterruptedMessage),
                        platform::MessageButtons::Ok);
        return false;
    }
    if (connected)
        return true;
    if (const QString failure = link::openFailureInWords(m_port); !failure.isEmpty()) {
        // The device as the user typed it and the system's reason; the
        // window's text names a port number kqmctl has not.
        m_messages.show(platform::MessageIcon::None, QStringLiteral("kqmctl: ") + failure,
                        platform::MessageButtons::Ok);
        return false;
    }
    m_connection.reportConnectFailure();
    return false;
}

bool UnitSession::openPort() {
    if (m_connection.OpenComPort(m_baud, 1))
        return true;
    const QString failure = link::openFailureInWords(m_port);
    messages().show(platform::MessageIcon::None,
                    failure.isEmpty() ? m_state.LastCommError : QStringLiteral("kqmctl: ") + failure);
    return false;
}

std::unique_ptr<files::SettingsTable> windowSettings() {
    const platform::ExecutableAppPaths paths;
    const auto files = files::ProgramDirectoryFiles::of(paths);
    auto settings = std::make_unique<files::SettingsTable>();
    if (!QFileInfo::exists(files.settings) || !settings->open(files.settings))
        return nullptr;
    return settings;
}

std::unique_ptr<UnitSession> connectedSession(const QStringList& arguments, const QString& command,
                                              QTextStream& err, int* status) {
    const auto options = parseLinkOptions(arguments, command, err);
    if (!options) {
        *status = UsageError;
        return nullptr;
    }
    auto session = std::make_unique<UnitSession>(*options, err);
    if (!session->connect()) {
        *status = Failure;
        return nullptr;
    }
    return session;
}

} // namespace kqm::cli
