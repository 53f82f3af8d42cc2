#include "link_commands.h"

#include "cli/console_messages.h"
#include "cli/list_command.h"
#include "files/settings_table.h"
#include "link/connection.h"
#include "link/device_port.h"
#include "link/link.h"
#include "link/qt_serial_port.h"
#include "platform/clock.h"
#include "simulator/pty_server.h"
#include "simulator/simulated_port.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <optional>

namespace kqm::cli {

namespace {

struct LinkOptions {
    QString device;
    int baud = 9600;
    int axis = 0;
};

// Parses --port/--baud/--axis; nullopt (after a usage line) when they are wrong.
std::optional<LinkOptions> parseLinkOptions(const QStringList& arguments, const QString& usage,
                                            QTextStream& err) {
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("port"), QStringLiteral("device"), QStringLiteral("DEVICE")});
    parser.addOption({QStringLiteral("baud"), QStringLiteral("baud rate"), QStringLiteral("N"),
                      QStringLiteral("9600")});
    parser.addOption({QStringLiteral("axis"), QStringLiteral("axis address"), QStringLiteral("N"),
                      QStringLiteral("0")});
    const auto fail = [&](const QString& why) -> std::optional<LinkOptions> {
        err << "kqmctl: " << why << "\nusage: " << usage << Qt::endl;
        return std::nullopt;
    };
    if (!parser.parse(QStringList{QStringLiteral("kqmctl")} + arguments))
        return fail(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return fail(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().at(0)));
    LinkOptions options;
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

} // namespace

int ConnectCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    const QString usage = QStringLiteral("kqmctl connect --port DEVICE [--baud N] [--axis N]");
    const auto options = parseLinkOptions(arguments, usage, err);
    if (!options)
        return UsageError;
    platform::SystemClock clock;
    ConsoleMessages messages(err);
    link::DevicePort port([device = options->device](int) { return device; },
                          [&clock](const QString& device) -> std::unique_ptr<platform::SerialPort> {
                              if (device == link::SimulatedDevice)
                                  return std::make_unique<simulator::SimulatedPort>(clock);
                              return std::make_unique<link::QtSerialPort>(device);
                          });
    link::LinkState state;
    state.AxisAddress = QString::number(options->axis);
    link::Link deviceLink(port, clock, messages, state);
    files::SettingsTable noSettings;
    link::Connection connection(deviceLink, noSettings);
    const bool connected =
        connection.OpenComPort(options->baud, 1) && connection.IdentifyUnit(state.AxisAddress);
    if (port.PortOpen())
        port.Close();
    if (!connected) {
        if (!state.LastCommError.isEmpty())
            err << state.LastCommError << Qt::endl;
        messages.show(platform::MessageIcon::Critical, link::DidNotConnectMessage(),
                      platform::MessageButtons::Ok);
        return Failure;
    }
    out << state.UnitModel << Qt::endl;
    return Success;
}

int SimulateCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("model"), QStringLiteral("KQM20 or KQM21"),
                      QStringLiteral("MODEL"), QStringLiteral("KQM20")});
    parser.addOption({QStringLiteral("axis"), QStringLiteral("axis address"), QStringLiteral("N"),
                      QStringLiteral("0")});
    const QString usage = QStringLiteral("kqmctl simulate [--model KQM20|KQM21] [--axis N]");
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
