#include "link_commands.h"

#include "cli/console_messages.h"
#include "cli/list_command.h"
#include "files/file_copy.h"
#include "files/settings_table.h"
#include "files/startup.h"
#include "link/connection.h"
#include "link/device_port.h"
#include "link/link.h"
#include "link/qt_serial_port.h"
#include "link/readout.h"
#include "platform/app_paths.h"
#include "platform/clock.h"
#include "program/listing.h"
#include "program/program_table.h"
#include "simulator/pty_server.h"
#include "simulator/simulated_port.h"
#include "transfer/send.h"
#include "transfer/upload.h"
#include "transfer/view.h"

#include <QDir>
#include <QFileInfo>

#include <QCommandLineParser>
#include <QCoreApplication>

#include <optional>

namespace kqm::cli {

namespace {

struct LinkOptions {
    QString device;
    int baud = 9600;
    int axis = 0;
    QString file;   // send: the program file
    QString output; // upload: the new program file
};

// Parses --port/--baud/--axis; nullopt (after a usage line) when they are wrong.
std::optional<LinkOptions> parseLinkOptions(const QStringList& arguments, const QString& usage,
                                            QTextStream& err, bool takesFile = false) {
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("port"), QStringLiteral("device"), QStringLiteral("DEVICE")});
    parser.addOption({QStringLiteral("baud"), QStringLiteral("baud rate"), QStringLiteral("N"),
                      QStringLiteral("9600")});
    parser.addOption({QStringLiteral("axis"), QStringLiteral("axis address"), QStringLiteral("N"),
                      QStringLiteral("0")});
    parser.addOption(
        {QStringLiteral("output"), QStringLiteral("new program file"), QStringLiteral("FILE")});
    const auto fail = [&](const QString& why) -> std::optional<LinkOptions> {
        err << "kqmctl: " << why << "\nusage: " << usage << Qt::endl;
        return std::nullopt;
    };
    if (!parser.parse(QStringList{QStringLiteral("kqmctl")} + arguments))
        return fail(parser.errorText());
    QStringList positional = parser.positionalArguments();
    LinkOptions options;
    if (takesFile) {
        if (positional.isEmpty())
            return fail(QStringLiteral("a program FILE is required"));
        options.file = positional.takeFirst();
    }
    if (!positional.isEmpty())
        return fail(QStringLiteral("unexpected argument '%1'").arg(positional.at(0)));
    options.output = parser.value(QStringLiteral("output"));
    options.device = parser.value(QStringLiteral("port"));
    if (options.device.isEmpty())
        return fail(QStringLiteral("--port is required"));
    bool baudOk = false;
    bool axisOk = false;
    options.baud = parser.value(QStringLiteral("baud")).toInt(&baudOk);
    options.axis = parser.value(QStringLiteral("axis")).toInt(&axisOk);
    if (!baudOk || options.baud <= 0)
        return fail(QStringLiteral("--baud takes a positive number"));
    if (!axisOk || options.axis < 0 || options.axis > 31)
        return fail(QStringLiteral("--axis takes a number from 0 to 31"));
    return options;
}

// An identified unit on a device, as the window's connection makes it.
class Session {
public:
    Session(const LinkOptions& options, QTextStream& err)
        : m_messages(err),
          m_port([device = options.device](int) { return device; },
                 [this](const QString& device) -> std::unique_ptr<platform::SerialPort> {
                     if (device == link::SimulatedDevice)
                         return std::make_unique<simulator::SimulatedPort>(m_clock);
                     return std::make_unique<link::QtSerialPort>(device);
                 }),
          m_link(m_port, m_clock, m_messages, m_state), m_connection(m_link, m_noSettings),
          m_baud(options.baud) {
        m_state.AxisAddress = QString::number(options.axis);
    }
    ~Session() {
        if (m_port.PortOpen())
            m_port.Close();
    }

    bool connect(QTextStream& err) {
        if (m_connection.OpenComPort(m_baud, 1) && m_connection.IdentifyUnit(m_state.AxisAddress))
            return true;
        if (!m_state.LastCommError.isEmpty())
            err << m_state.LastCommError << Qt::endl;
        m_messages.show(platform::MessageIcon::Critical, link::DidNotConnectMessage(),
                        platform::MessageButtons::Ok);
        return false;
    }

    link::Link& link() { return m_link; }
    link::LinkState& state() { return m_state; }
    platform::Messages& messages() { return m_messages; }

private:
    platform::SystemClock m_clock;
    ConsoleMessages m_messages;
    link::DevicePort m_port;
    link::LinkState m_state;
    link::Link m_link;
    files::SettingsTable m_noSettings;
    link::Connection m_connection;
    int m_baud;
};

QString remaining(int characters) {
    const int tenths = std::max(characters, 0);
    return QStringLiteral("%1:%2")
        .arg(tenths / 600)
        .arg((tenths / 10) % 60, 2, 10, QLatin1Char('0'));
}

// Parses the link options and identifies the unit; nullptr, with the exit
// status set, when either fails.
std::unique_ptr<Session> connectedSession(const QStringList& arguments, const QString& usage,
                                          QTextStream& err, int* status) {
    const auto options = parseLinkOptions(arguments, usage, err);
    if (!options) {
        *status = UsageError;
        return nullptr;
    }
    auto session = std::make_unique<Session>(*options, err);
    if (!session->connect(err)) {
        *status = Failure;
        return nullptr;
    }
    return session;
}

} // namespace

int ConnectCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    int status = Success;
    const auto session = connectedSession(
        arguments, QStringLiteral("kqmctl connect --port DEVICE [--baud N] [--axis N]"), err,
        &status);
    if (!session)
        return status;
    out << session->state().UnitModel << Qt::endl;
    return Success;
}

int SendCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    const QString usage = QStringLiteral("kqmctl send FILE --port DEVICE [--baud N] [--axis N]");
    const auto options = parseLinkOptions(arguments, usage, err, true);
    if (!options)
        return UsageError;
    program::ProgramTable table;
    if (!table.open(options->file, program::SqliteFile::Mode::ReadOnly)) {
        err << "kqmctl: " << QDir::toNativeSeparators(options->file)
            << " is not a program file: " << table.lastError() << Qt::endl;
        return UsageError;
    }
    auto rows = table.readRows().value_or(QVector<program::ProgramRow>{});
    Session session(*options, err);
    const program::ListingOutcome listing = program::ComputeListing(rows, session.messages());
    if (const auto refusal =
            transfer::SendRefusal(static_cast<int>(rows.size()), listing.programFits)) {
        err << *refusal << Qt::endl;
        return Failure;
    }
    const QString text = transfer::ProgramSendText(rows, session.state().AxisAddress);
    if (!transfer::EndsWithQuit(text)) {
        err << transfer::QuitRequiredMessage << Qt::endl;
        return Failure;
    }
    if (!session.connect(err))
        return Failure;
    const int total = static_cast<int>(text.size());
    const auto outcome =
        transfer::SendProgram(session.link(), text, [&err, total](int index, QChar) {
            if (index % 10 == 0 || index + 1 == total) {
                err << "\rSending: " << index + 1 << " of " << total << " characters, "
                    << remaining(total - index - 1) << " left " << Qt::flush;
            }
        });
    err << Qt::endl;
    if (outcome != transfer::SendOutcome::Sent) {
        err << transfer::SendPortClosedMessage << Qt::endl;
        return Failure;
    }
    out << "Sent " << rows.size() << " lines to the " << session.state().UnitModel << " on axis "
        << session.state().AxisAddress << Qt::endl;
    return Success;
}

int UploadCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    const QString usage =
        QStringLiteral("kqmctl upload --port DEVICE [--baud N] [--axis N] --output FILE");
    const auto options = parseLinkOptions(arguments, usage, err);
    if (!options)
        return UsageError;
    if (options->output.isEmpty()) {
        err << "kqmctl: --output is required\nusage: " << usage << Qt::endl;
        return UsageError;
    }
    if (QFileInfo::exists(options->output)) {
        err << "kqmctl: " << QDir::toNativeSeparators(options->output)
            << " exists already; choose a new file" << Qt::endl;
        return UsageError;
    }
    Session session(*options, err);
    if (!session.connect(err))
        return Failure;
    const transfer::UnitReply reply = [&session] {
        link::Link::Exchange exchange(session.link());
        return transfer::ReadUnitProgram(session.link());
    }();
    if (!reply.responded)
        return Failure;
    const transfer::BuiltProgram built =
        transfer::BuildUploadedProgram(reply.text, session.messages());
    if (!built.stored)
        return Failure;
    // A new program file made from the template, as the window rebuilds its
    // working copy.
    platform::ExecutableAppPaths paths;
    const auto files = files::ProgramDirectoryFiles::In(paths.programDirectory());
    QString error;
    const bool fromTemplate = QFileInfo::exists(files.templ) &&
                              files::CopyFileReplacing(files.templ, options->output).ok();
    if (!fromTemplate && !program::ProgramTable::CreateEmptyProgramFile(options->output, &error)) {
        err << "kqmctl: " << QDir::toNativeSeparators(options->output)
            << " could not be made: " << error << Qt::endl;
        return Failure;
    }
    program::ProgramTable table;
    if (!table.open(options->output)) {
        err << "kqmctl: " << table.lastError() << Qt::endl;
        return Failure;
    }
    program::ProgramState state;
    const auto before = table.readRows().value_or(QVector<program::ProgramRow>{});
    const program::RefreshResult stored =
        program::StoreAndRefresh(table, before, built.rows, state, session.messages());
    if (!stored.ok) {
        err << "kqmctl: the program could not be stored: " << stored.error << Qt::endl;
        return Failure;
    }
    out << "Uploaded " << stored.rows.size() << " lines into "
        << QDir::toNativeSeparators(options->output) << Qt::endl;
    return Success;
}

int ViewCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    int status = Success;
    const auto session = connectedSession(
        arguments, QStringLiteral("kqmctl view --port DEVICE [--baud N] [--axis N]"), err, &status);
    if (!session)
        return status;
    transfer::UnitListing listing;
    {
        link::Link::Exchange exchange(session->link());
        listing = transfer::SplitUnitListing(transfer::RequestUnitListing(session->link()));
    }
    for (const QString& line : listing.lines)
        out << line << '\n';
    if (listing.endedWithQ)
        out << "Q\n";
    out.flush();
    if (listing.truncated) {
        err << transfer::ListingTooLongMessage << Qt::endl;
        return Failure;
    }
    if (!listing.endedWithQ) {
        err << transfer::ListingIncompleteMessage << Qt::endl;
        return Failure;
    }
    return Success;
}

namespace {
// The readout's labels as lines, in the order the motion tab shows them.
class LinesView final : public link::ReadoutView {
public:
    void setLabel(Label label, const QString& text) override {
        m_labels[static_cast<int>(label)] = text;
    }
    void setInputs(int bits) override { m_inputs = bits; }
    void print(QTextStream& out) const {
        for (const QString& text : m_labels)
            out << QString(text).remove(QLatin1Char('\r')).remove(QLatin1Char('\n')) << '\n';
        out << "Inputs:";
        for (int i = 0; i < 4; ++i)
            out << ' ' << (m_inputs ? (*m_inputs >> i) & 1 : 0);
        out << Qt::endl;
    }

private:
    QString m_labels[9];
    std::optional<int> m_inputs;
};
} // namespace

int ReadoutCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    int status = Success;
    const auto session = connectedSession(
        arguments, QStringLiteral("kqmctl readout --port DEVICE [--baud N] [--axis N]"), err,
        &status);
    if (!session)
        return status;
    LinesView view;
    {
        link::Link::Exchange exchange(session->link());
        link::RunReadout(session->link(), view);
    }
    view.print(out);
    return Success;
}

int SimulateCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("model"), QStringLiteral("KQM20 or KQM21"),
                      QStringLiteral("MODEL"), QStringLiteral("KQM20")});
    parser.addOption({QStringLiteral("axis"), QStringLiteral("axis address"), QStringLiteral("N"),
                      QStringLiteral("0")});
    parser.addOption({QStringLiteral("stall-after"),
                      QStringLiteral("stop answering after this many reply bytes"),
                      QStringLiteral("BYTES")});
    const QString usage =
        QStringLiteral("kqmctl simulate [--model KQM20|KQM21] [--axis N] [--stall-after BYTES]");
    if (!parser.parse(QStringList{QStringLiteral("kqmctl")} + arguments) ||
        !parser.positionalArguments().isEmpty()) {
        err << "usage: " << usage << Qt::endl;
        return UsageError;
    }
    const QString model = parser.value(QStringLiteral("model"));
    bool axisOk = false;
    const int axis = parser.value(QStringLiteral("axis")).toInt(&axisOk);
    if ((model != QLatin1String("KQM20") && model != QLatin1String("KQM21")) || !axisOk ||
        axis < 0 || axis > 31) {
        err << "usage: " << usage << Qt::endl;
        return UsageError;
    }
    platform::SystemClock clock;
    simulator::PtyServer server(clock, model, axis);
    if (parser.isSet(QStringLiteral("stall-after")))
        server.unit().faults().replyBudget = parser.value(QStringLiteral("stall-after")).toInt();
    if (!server.start()) {
        err << "kqmctl: no pseudo-terminal could be made: " << server.errorString() << Qt::endl;
        return Failure;
    }
    out << server.devicePath() << Qt::endl;
    err << "Simulated " << model << " on axis " << axis << " at " << server.devicePath()
        << "; press Ctrl+C to stop." << Qt::endl;
    return QCoreApplication::exec();
}

} // namespace kqm::cli
