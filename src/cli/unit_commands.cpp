#include "cli/unit_commands.h"

#include "cli/command_line.h"
#include "cli/list_command.h"
#include "cli/printable.h"
#include "cli/unit_session.h"
#include "dryrun/unit_run.h"
#include "link/readout.h"
#include "link/unit_scan.h"
#include "simulator/pty_server.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cmath>

namespace kqm::cli {

int connectCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    int status = Success;
    const auto session = connectedSession(arguments, QStringLiteral("connect"), err, &status);
    if (!session)
        return status;
    out << session->state().UnitModel << Qt::endl;
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
            out << printable(QString(text).remove(QLatin1Char('\r')).remove(QLatin1Char('\n')))
                << '\n';
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

int readoutCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    int status = Success;
    const auto session = connectedSession(arguments, QStringLiteral("readout"), err, &status);
    if (!session)
        return status;
    LinesView view;
    int answered = 0;
    bool stopped = false;
    {
        AbortOnInterrupt interrupt(session->link());
        link::Link::Exchange exchange(session->link());
        link::runReadout(session->link(), view, &answered);
        stopped = interrupt.stopped();
    }
    view.print(out);
    if (stopped) {
        err << "kqmctl: " << InterruptedMessage << " during the readout" << Qt::endl;
        return Failure;
    }
    if (answered > 0)
        return Success;
    // Not one query answered: the unit is gone, or the line is no unit's.
    const QString why = session->link().lostReason().isEmpty() ? session->state().LastCommError
                                                               : session->link().lostReason();
    err << "kqmctl: the unit answered none of the queries: " << why << Qt::endl;
    return Failure;
}

int scanCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    const auto options = parseLinkOptions(arguments, QStringLiteral("scan"), err);
    if (!options)
        return UsageError;
    UnitSession session(*options, err);
    if (!session.openPort())
        return Failure;
    link::ScanResult result;
    bool stopped = false;
    {
        AbortOnInterrupt interrupt(session.link());
        link::Link::Exchange exchange(session.link());
        result = link::scanUnits(session.link());
        stopped = interrupt.stopped();
    }
    for (const link::FoundUnit& unit : result.units)
        out << unit.axis << '\t' << unit.model << '\t' << printable(unit.revision) << '\n';
    out.flush();
    for (const link::FoundUnit& unit : result.units) {
        if (unit.leftStoring)
            err << "kqmctl: " << link::leftStoringMessage(QString::number(unit.axis)) << Qt::endl;
    }
    if (stopped) {
        err << "kqmctl: " << InterruptedMessage << "; the scan ended before axis "
            << link::ScanLastAxis << Qt::endl;
        return Failure;
    }
    if (!result.completed) {
        err << "kqmctl: the scan ended before axis " << link::ScanLastAxis << ": " << result.failure
            << Qt::endl;
        return Failure;
    }
    if (result.units.isEmpty()) {
        err << "kqmctl: no unit answered on " << options->device << Qt::endl;
        return Failure;
    }
    return Success;
}

namespace {

// The units of `kqmctl simulate`: --axes and --models as lists, or --axis
// and --model for one unit. A single model serves every axis.
struct SimulatedUnits {
    QList<int> axes;
    QStringList models;
};

std::optional<SimulatedUnits> simulatedUnits(const QCommandLineParser& parser) {
    SimulatedUnits units;
    const QString axes = parser.isSet(QStringLiteral("axes"))
                             ? parser.value(QStringLiteral("axes"))
                             : parser.value(QStringLiteral("axis"));
    for (const QString& field : axes.split(QLatin1Char(','))) {
        bool ok = false;
        const int axis = field.trimmed().toInt(&ok);
        if (!ok || axis < 0 || axis > 31 || units.axes.contains(axis))
            return std::nullopt;
        units.axes << axis;
    }
    const QString models = parser.isSet(QStringLiteral("models"))
                               ? parser.value(QStringLiteral("models"))
                               : parser.value(QStringLiteral("model"));
    for (const QString& field : models.split(QLatin1Char(','))) {
        const QString model = field.trimmed();
        if (model != QLatin1String("KQM20") && model != QLatin1String("KQM21"))
            return std::nullopt;
        units.models << model;
    }
    if (units.models.size() == 1) {
        while (units.models.size() < units.axes.size())
            units.models << units.models.first();
    }
    if (units.models.size() != units.axes.size())
        return std::nullopt;
    return units;
}

// The faults asked for on the command line, for every unit on the line;
// noise comes from the line once, not from each unit.
bool applyFaults(const QCommandLineParser& parser, simulator::SimulatedLine& line) {
    bool ok = true;
    const auto number = [&](const char* name) {
        bool valid = false;
        const double value = parser.value(QString::fromLatin1(name)).toDouble(&valid);
        ok = ok && valid && value >= 0;
        return value;
    };
    if (parser.isSet(QStringLiteral("noise-rate"))) {
        line.unit().faults().noiseRate = number("noise-rate");
        line.unit().faults().noiseAfterFrames = static_cast<int>(number("noise-after"));
    }
    for (int i = 0; i < line.unitCount(); ++i) {
        simulator::SimulatedUnit::Faults& faults = line.unit(i).faults();
        if (parser.isSet(QStringLiteral("garbage-after"))) {
            faults.garbage = true;
            faults.garbageAfterFrames = static_cast<int>(number("garbage-after"));
        }
        if (parser.isSet(QStringLiteral("stall-after")))
            faults.replyBudget = static_cast<int>(number("stall-after"));
        if (parser.isSet(QStringLiteral("slow-receiver")))
            faults.slowReceiver = number("slow-receiver") / 1000.0;
    }
    return ok;
}

} // namespace

int simulateCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("model"), QStringLiteral("KQM20 or KQM21"),
                      QStringLiteral("MODEL"), QStringLiteral("KQM20")});
    parser.addOption({QStringLiteral("axis"), QStringLiteral("axis address"), QStringLiteral("N"),
                      QStringLiteral("0")});
    parser.addOption({QStringLiteral("axes"),
                      QStringLiteral("several units on the line, at these axis addresses"),
                      QStringLiteral("N,N,...")});
    parser.addOption({QStringLiteral("models"),
                      QStringLiteral("the model of each unit of --axes, in the same order"),
                      QStringLiteral("MODEL,MODEL,...")});
    parser.addOption({QStringLiteral("noise-rate"),
                      QStringLiteral("send noise at this many bytes a second (tests)"),
                      QStringLiteral("BYTES")});
    parser.addOption({QStringLiteral("noise-after"),
                      QStringLiteral("start the noise after this many frames"),
                      QStringLiteral("FRAMES"), QStringLiteral("0")});
    parser.addOption({QStringLiteral("garbage-after"),
                      QStringLiteral("answer with noise after this many frames (tests)"),
                      QStringLiteral("FRAMES")});
    parser.addOption({QStringLiteral("stall-after"),
                      QStringLiteral("stop answering after this many reply bytes"),
                      QStringLiteral("BYTES")});
    parser.addOption({QStringLiteral("slow-receiver"),
                      QStringLiteral("lose every character that follows the one before it "
                                     "by less than this (tests)"),
                      QStringLiteral("MS")});
    parser.addOption({QStringLiteral("wire"),
                      QStringLiteral("carry each character in the time the port's baud rate "
                                     "gives it, as a serial wire does")});
    parser.addOption({QStringLiteral("accel-unit"),
                      QStringLiteral("steps/s^2 for each unit of A when the stored program runs "
                                     "(default 1000, the dry run's)"),
                      QStringLiteral("N")});
    const QString name = QStringLiteral("simulate");
    if (!parser.parse(QStringList{QStringLiteral("kqmctl")} + arguments))
        return usageError(name, parserError(parser), err);
    if (!parser.positionalArguments().isEmpty())
        return usageError(name, unexpectedArgument(parser.positionalArguments().first()), err);
    const auto units = simulatedUnits(parser);
    if (!units) {
        return usageError(name,
                          QStringLiteral("the axes (0 to 31, each once) and the models (KQM20 or "
                                         "KQM21, one or one per axis) do not fit together"),
                          err);
    }
    platform::SystemClock clock;
    simulator::PtyServer server(clock, units->models.first(), units->axes.first());
    double accelUnit = dryrun::RunSettings{}.stepsPerSecondSquaredPerA;
    if (parser.isSet(QStringLiteral("accel-unit"))) {
        bool ok = false;
        accelUnit = parser.value(QStringLiteral("accel-unit")).toDouble(&ok);
        if (!ok || !std::isfinite(accelUnit) || accelUnit <= 0 || accelUnit > 1e6)
            return usageError(name, QStringLiteral("--accel-unit takes a number above 0"), err);
    }
    server.line().setProgramRunner(dryrun::unitProgramRunner(accelUnit));
    server.setWirePaced(parser.isSet(QStringLiteral("wire")));
    for (int i = 1; i < units->axes.size(); ++i)
        server.line().addUnit(units->models.at(i), units->axes.at(i));
    if (!applyFaults(parser, server.line()))
        return usageError(name, QStringLiteral("the fault options take numbers of 0 or more"), err);
    if (!server.start()) {
        err << "kqmctl: no pseudo-terminal could be made: " << server.errorString() << Qt::endl;
        return Failure;
    }
    out << server.devicePath() << Qt::endl;
    QStringList described;
    for (int i = 0; i < units->axes.size(); ++i)
        described
            << QStringLiteral("%1 on axis %2").arg(units->models.at(i)).arg(units->axes.at(i));
    err << "Simulated " << described.join(QStringLiteral(", ")) << " at " << server.devicePath()
        << "; press Ctrl+C to stop." << Qt::endl;
    return QCoreApplication::exec();
}

} // namespace kqm::cli
