#include "cli/unit_commands.h"

#include "cli/list_command.h"
#include "cli/printable.h"
#include "cli/unit_session.h"
#include "link/readout.h"
#include "simulator/pty_server.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace kqm::cli {

int connectCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    int status = Success;
    const auto session = connectedSession(
        arguments, QStringLiteral("kqmctl connect --port DEVICE [--baud N] [--axis N]"), err,
        &status);
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
    const auto session = connectedSession(
        arguments, QStringLiteral("kqmctl readout --port DEVICE [--baud N] [--axis N]"), err,
        &status);
    if (!session)
        return status;
    LinesView view;
    int answered = 0;
    {
        link::Link::Exchange exchange(session->link());
        link::runReadout(session->link(), view, &answered);
    }
    view.print(out);
    if (answered > 0)
        return Success;
    // Not one query answered: the unit is gone, or the line is no unit's.
    const QString why = session->link().lostReason().isEmpty() ? session->state().LastCommError
                                                               : session->link().lostReason();
    err << "kqmctl: the unit answered none of the queries: " << why << Qt::endl;
    return Failure;
}

int simulateCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("model"), QStringLiteral("KQM20 or KQM21"),
                      QStringLiteral("MODEL"), QStringLiteral("KQM20")});
    parser.addOption({QStringLiteral("axis"), QStringLiteral("axis address"), QStringLiteral("N"),
                      QStringLiteral("0")});
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
    if (parser.isSet(QStringLiteral("noise-rate"))) {
        server.unit().faults().noiseRate = parser.value(QStringLiteral("noise-rate")).toDouble();
        server.unit().faults().noiseAfterFrames =
            parser.value(QStringLiteral("noise-after")).toInt();
    }
    if (parser.isSet(QStringLiteral("garbage-after"))) {
        server.unit().faults().garbage = true;
        server.unit().faults().garbageAfterFrames =
            parser.value(QStringLiteral("garbage-after")).toInt();
    }
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
