#include "line_fixture.h"

#include "files/machine_file.h"
#include "link/connection.h"
#include "link/unit_scan.h"
#include "support/program_files.h"
#include "transfer/machine_run.h"
#include "transfer/pace_test.h"
#include "transfer/send_operation.h"
#include "transfer/upload.h"
#include "transfer/unit_trace.h"

#include <QRandomGenerator>
#include <QSet>

#include <gtest/gtest.h>

#include <cmath>

using namespace kqm;
using namespace kqm::transfer;

namespace {

// Seeded sequences of what a user does to a line of three units: Terminal
// characters (half frames among them), Stop at random moments, scans
// stopped part-way, uploads, sends with backup and read-back at every pace
// through a receiver, or a line, that may drop characters, machine checks
// and sends, pace tests, axis changes, the port going away and the window
// closing (or Ctrl+C) in the middle of any of them, and traces of a unit
// running its program, with the Terminal and the machine view's position
// poll trying the line meanwhile. After every step the
// line must be sound: no unit left in program entry while the port is
// there, every unit on the line reached by the next greeting, and every
// read-back answered by the unit it asked.
class RandomLine {
public:
    explicit RandomLine(quint32 seed) : m_random(seed) {
        m_line.state.AxisAddress = QStringLiteral("0");
        m_line.port.unit().setModel(QStringLiteral("KQM20"));
        m_line.port.addUnit(QStringLiteral("KQM21"), 3);
        m_line.port.addUnit(QStringLiteral("KQM20"), 7);
        for (const int axis : Axes)
            test::LineFixture::store(unit(axis), {QStringLiteral("A1%1").arg(axis), "Q"});
        m_line.clock.addListener([this](double now) { interruptAt(now); });
        test::WriteProgramFile(m_line.dir.filePath("m.mdb"), {{"A20"}, {"W5"}, {"Q"}});
        for (const int axis : {0, 3, 7, 5})
            m_machine.units << files::MachineUnit{axis, m_line.dir.filePath("m.mdb"), std::nullopt};
    }

    void run(int steps) {
        for (int step = 0; step < steps && !m_closed; ++step) {
            maybeInterruptLater();
            const int action = static_cast<int>(m_random.bounded(10));
            switch (action) {
            case 9:
                trace();
                break;
            case 6:
                machine();
                break;
            case 7:
                if (m_random.bounded(4) == 0)
                    paceTest();
                else
                    send();
                break;
            case 8:
                reopen();
                break;
            case 0:
                terminal();
                break;
            case 1:
                stop();
                break;
            case 2:
                scan();
                break;
            case 3:
                send();
                break;
            case 4:
                upload();
                break;
            default:
                changeAxis();
                break;
            }
            checkLine();
            if (::testing::Test::HasFailure())
                return;
        }
    }

    QString log() const { return m_log.join(QStringLiteral(", ")); }
    static inline int tracesRun = 0;

private:
    static constexpr int Axes[] = {0, 3, 7};

    simulator::SimulatedUnit& unit(int axis) { return *m_line.port.line().unitAt(axis); }
    simulator::SimulatedUnit& connected() { return unit(m_line.state.AxisAddress.toInt()); }
    link::Link& link() { return m_line.deviceLink; }

    // Stop or the window closing at a random moment of whatever runs next.
    void maybeInterruptLater() {
        if (m_random.bounded(10) >= 3)
            return;
        m_interruptAt = m_line.clock.now() + m_random.bounded(3000) / 1000.0;
        m_interruptCloses = m_random.bounded(6) == 0;
        m_interruptUnplugs = !m_interruptCloses && m_random.bounded(5) == 0;
    }
    void interruptAt(double now) {
        if (m_tracing && !m_inInterrupt && now >= m_nextTry)
            tryTheLine(now);
        if (m_interruptAt < 0 || now < m_interruptAt || m_inInterrupt)
            return;
        m_interruptAt = -1;
        m_inInterrupt = true;
        if (m_interruptCloses) {
            m_log << QStringLiteral("close");
            link().exchanges().requestAbort();
            m_closed = true;
        } else if (m_interruptUnplugs) {
            m_log << QStringLiteral("unplug");
            // A unit left in entry by the loss stores whatever reaches it
            // next, the greeting's stop among it, until its entry is ended.
            for (const int axis : Axes) {
                if (unit(axis).inProgramEntry())
                    m_garbled.insert(axis);
            }
            m_stranded = m_garbled;
            m_line.port.unplug();
            m_portLost = true;
        } else {
            pressStop();
        }
        m_inInterrupt = false;
    }
    void pressStop() {
        m_log << QStringLiteral("stop");
        // With the port gone, no stop can reach a unit.
        if (m_line.port.PortOpen())
            m_stops << qMakePair(m_line.state.AxisAddress.toInt(),
                                 static_cast<int>(connected().frameCount()));
        link().stopMotion();
    }

    // While a trace runs, what the window lets the user do: type in the
    // Terminal and poll positions. Neither may reach the line.
    void tryTheLine(double now) {
        m_inInterrupt = true;
        m_nextTry = now + 0.05 + m_random.bounded(400) / 1000.0;
        if (m_random.bounded(2) == 0) {
            if (!link().exchanges().refuseWhenBusy())
                link().TransmitTerminalText(QStringLiteral("@7S\r"));
        } else {
            EXPECT_NE(link().background().ask(QStringLiteral("VZ"), QStringLiteral("7")).outcome,
                      link::BackgroundQueries::Outcome::Answered)
                << log().toStdString();
        }
        m_inInterrupt = false;
    }

    // The connected unit runs a program it holds (or not) while the line is
    // tried and, now and then, Stop, the port or the window interrupt it.
    void trace() {
        const QString axis = m_line.state.AxisAddress;
        const bool holds = m_random.bounded(3) != 0;
        const double limit = 0.2 + m_random.bounded(25) / 10.0;
        m_log << QStringLiteral("trace%1 limit %2").arg(holds ? "" : " (not held)").arg(limit);
        if (!m_line.state.UnitConnected || !m_line.port.PortOpen())
            return;
        const QStringList program{"A20", QStringLiteral("N%1\r@%2G").arg(300 + m_random.bounded(900)).arg(axis),
                                  "F", "W200", QStringLiteral("N400\r@%1G").arg(axis), "Q"};
        const QString path = m_line.dir.filePath(QStringLiteral("trace.mdb"));
        QFile::remove(path);
        QVector<test::Line> lines;
        for (const QString& command : program)
            lines.push_back({command});
        test::WriteProgramFile(path, lines);
        simulator::SimulatedUnit& unit = connected();
        test::LineFixture::store(unit, holds ? program : QStringList{"A5", "Q"});
        m_garbled.remove(axis.toInt());
        const qsizetype before = unit.frameCount();
        const bool interruptsPending = m_interruptAt >= 0;
        TraceRequest request;
        request.programFile = path;
        request.limit = limit;
        m_tracing = true;
        m_nextTry = m_line.clock.now();
        const TraceResult result = traceUnit(link(), m_line.clock, request);
        m_tracing = false;
        if (result.ran())
            ++tracesRun;
        m_line.messages.clear();
        const std::string trace = log().toStdString() + " -> " + traceEndName(result.end).toStdString() +
                                  " " + result.message.toStdString();
        // From the run frame on, nothing but the trace's own frames and
        // Stop: no other exchange, no Terminal text, no poll in between.
        const QList<QByteArray> frames = unit.framesSince(before);
        const QByteArray prefix = "@" + axis.toLatin1();
        const qsizetype run = frames.indexOf(prefix + "R0");
        for (qsizetype i = std::max<qsizetype>(run + 1, 0); run >= 0 && i < frames.size(); ++i) {
            EXPECT_TRUE(QList<QByteArray>({prefix + "VZ", prefix + "I", prefix + "!", prefix + "."})
                            .contains(frames.at(i)))
                << frames.at(i).toStdString() << ": " << trace;
        }
        if (!holds) {
            EXPECT_EQ(run, -1) << trace;
        }
        // Undisturbed, a trace runs exactly when the unit holds its program.
        if (!interruptsPending) {
            EXPECT_EQ(result.ran(), holds) << trace;
        }
        // Ended early with the port there: the unit was stopped.
        if (result.ran() && m_line.port.PortOpen() && result.end != TraceEnd::Standstill) {
            EXPECT_TRUE(result.unitStopped) << trace;
            EXPECT_FALSE(unit.running()) << trace;
        }
        if (result.end == TraceEnd::Standstill) {
            EXPECT_FALSE(unit.running()) << trace;
        }
    }

    void terminal() {
        static const char* texts[] = {"@7S\r", "@7M100", "@3$\r", "@0B6", "@7N200\r@7G\r", "@3"};
        const char* text = texts[m_random.bounded(6)];
        m_log << QStringLiteral("type %1").arg(QString::fromLatin1(text).replace('\r', "\\r"));
        if (!link().exchanges().isBusy())
            link().TransmitTerminalText(QString::fromLatin1(text));
    }
    void stop() { pressStop(); }

    void scan() {
        const int stopAt = static_cast<int>(m_random.bounded(40));
        m_log << QStringLiteral("scan to %1").arg(stopAt);
        link::Link::Exchange exchange(link());
        link::scanUnits(link(), [this, stopAt](int axis, const link::FoundUnit*) {
            if (axis == stopAt)
                link().exchanges().requestStop();
        });
    }

    void upload() {
        m_log << QStringLiteral("upload");
        const QStringList held = test::LineFixture::heldBy(connected());
        link::Link::Exchange exchange(link());
        const UnitReply reply = readUnitProgram(link(), nullptr);
        // The request without an address reached the connected unit.
        if (reply.responded && !link().exchanges().interrupted()) {
            EXPECT_EQ(parseUploadReply(reply.text).commands, held) << log().toStdString();
        }
    }

    void changeAxis() {
        const int axis = Axes[m_random.bounded(3)];
        m_log << QStringLiteral("axis %1").arg(axis);
        link::Connection connection(link());
        connection.chooseAxis(axis);
        if (!connection.connectTo(9600, 1))
            m_line.messages.clear();
    }

    void send() {
        static const char* commands[] = {"A10", "B600", "M2000", "W5", "N500", "G", "P100", "O1"};
        QStringList program;
        for (int i = 0, n = 1 + static_cast<int>(m_random.bounded(5)); i < n; ++i)
            program << QString::fromLatin1(commands[m_random.bounded(8)]);
        program << QStringLiteral("Q");
        const double pace = usualPaces().at(static_cast<int>(m_random.bounded(4)));
        const bool lossy = m_random.bounded(2) == 0;
        // Lost on the line itself, for every unit: a cut frame may name any.
        const bool lossyLine = lossy && m_random.bounded(2) == 0;
        m_log << QStringLiteral("send %1 at %2%3")
                     .arg(program.join(' '))
                     .arg(pace)
                     .arg(lossyLine ? QStringLiteral(" lossy line")
                          : lossy   ? QStringLiteral(" lossy")
                                    : QString());
        if (!m_line.state.UnitConnected || !m_line.port.PortOpen())
            return;
        connected().faults().slowReceiver = lossy && !lossyLine ? 0.05 : 0.0;
        if (lossyLine) {
            const quint32 seed = m_random.generate();
            // Only characters that follow each other at the send's faster
            // pace: a frame written at once and the sure pace get through.
            m_line.port.line().loses = [random = QRandomGenerator(seed), &clock = m_line.clock,
                                        last = -1.0, pace](char, qsizetype) mutable {
                const double gap = last < 0 ? 1.0 : clock.now() - last;
                last = clock.now();
                return pace < SurePace && std::abs(gap - pace) < 1e-4 && random.bounded(6) == 0;
            };
        }
        const QStringList before = test::LineFixture::heldBy(connected());
        const bool interruptsPending = m_interruptAt >= 0;
        const SendRequest request = m_line.request(program, pace, m_random.bounded(2) == 0);
        const QMap<int, QStringList> others = othersHeld();
        const SendReport report = runSend(link(), request, {});
        m_line.port.line().loses = {};
        const QStringList held = test::LineFixture::heldBy(connected());
        // A send, its backup and its read-back reach the connected unit only.
        EXPECT_EQ(othersHeld(), others) << log().toStdString();
        const QStringList sent = unitProgram(request.send()).commands;
        const std::string trace = log().toStdString() + " -> " + report.message.toStdString();
        switch (report.end) {
        case SendEnd::NothingSent:
            EXPECT_EQ(held, before) << trace;
            break;
        case SendEnd::Verified:
            EXPECT_EQ(held, sent) << trace;
            m_garbled.remove(m_line.state.AxisAddress.toInt());
            break;
        case SendEnd::SentNotVerified:
            // At a faster pace nobody knows what arrived, and it is said so.
            if (pace >= SurePace || !lossy) {
                EXPECT_EQ(held, sent) << trace;
            }
            break;
        case SendEnd::Stopped:
            EXPECT_EQ(held, QStringList{"Q"}) << trace;
            break;
        default:
            break;
        }
        EXPECT_FALSE(report.message.isEmpty()) << trace;
        if (m_line.port.PortOpen()) {
            EXPECT_FALSE(report.entryLeftOpen) << trace;
        }
        // Undisturbed at a pace the unit can follow, a send always verifies.
        if (!interruptsPending && (!lossy || pace >= SurePace)) {
            EXPECT_EQ(report.end, SendEnd::Verified) << trace;
        }
        connected().faults().slowReceiver = 0.0;
    }

    // What every unit but the connected one holds.
    QMap<int, QStringList> othersHeld() {
        QMap<int, QStringList> held;
        for (const int axis : Axes) {
            if (QString::number(axis) != m_line.state.AxisAddress)
                held[axis] = test::LineFixture::heldBy(unit(axis));
        }
        return held;
    }

    void machine() {
        const bool send = m_random.bounded(2) == 0;
        m_log << (send ? QStringLiteral("machine send") : QStringLiteral("machine check"));
        if (!m_line.port.PortOpen())
            return;
        MachineRunOptions options;
        options.send = send;
        options.keepGoing = m_random.bounded(2) == 0;
        options.places.backupRoot = m_line.dir.filePath("machine-backups");
        const QString axisBefore = m_line.state.AxisAddress;
        const auto results = runMachine(link(), m_machine, options, {}, m_line.messages);
        m_line.messages.clear();
        ASSERT_EQ(results.size(), m_machine.units.size());
        // The unit that is not on the line is no unit; the others are what
        // the check found, and a unit sent and in step holds its program.
        if (m_line.port.PortOpen() && !link().exchanges().abortRequested()) {
            EXPECT_EQ(m_line.state.AxisAddress, axisBefore) << log().toStdString();
            for (const MachineUnitResult& result : results) {
                if (result.status.state == UnitState::InStep) {
                    EXPECT_EQ(test::LineFixture::heldBy(unit(result.status.axis)),
                              (QStringList{"A20", "W5", "Q"}))
                        << log().toStdString();
                }
            }
        }
    }

    void paceTest() {
        m_log << QStringLiteral("pace test");
        if (!m_line.state.UnitConnected || !m_line.port.PortOpen())
            return;
        const QStringList before = test::LineFixture::heldBy(connected());
        const QMap<int, QStringList> others = othersHeld();
        PaceTestOptions options;
        options.backupDirectory = m_line.dir.filePath("pace-backups");
        const PaceTestReport report = runPaceTest(link(), m_line.clock, options, {});
        EXPECT_EQ(othersHeld(), others) << log().toStdString();
        // A unit that held no program is left with the empty one, a quit alone.
        if (report.restored) {
            EXPECT_EQ(test::LineFixture::heldBy(connected()),
                      before.isEmpty() ? QStringList{"Q"} : before)
                << log().toStdString();
        }
    }

    // The port that went away is opened again, as a connect does.
    void reopen() {
        m_log << QStringLiteral("reopen");
        if (m_line.port.PortOpen())
            return;
        link::Connection connection(link());
        if (!connection.connectTo(9600, 1))
            m_line.messages.clear();
    }

    void checkLine() {
        const std::string trace = log().toStdString();
        // The step's interruption, if it did not come, comes no more.
        m_interruptAt = -1;
        EXPECT_FALSE(link().exchanges().isBusy()) << trace;
        const bool portThere = m_line.port.PortOpen();
        // A unit left in entry while the port was gone stays so until a
        // greeting reaches it: the one below.
        if (portThere && m_portLost && !m_closed) {
            reachEveryUnit(trace);
            m_portLost = false;
        }
        for (const int axis : Axes) {
            // A unit the port's loss left in entry stays so until a greeting
            // reaches it (the window closing meanwhile: at the next start).
            if (portThere && !m_stranded.contains(axis)) {
                EXPECT_FALSE(unit(axis).inProgramEntry()) << "axis " << axis << ": " << trace;
            }
            // A stop frame is executed, never stored (but by a unit the port's
            // loss left in entry: the greeting that reaches it is stored
            // until its entry is ended, and the user is told to send again).
            if (!m_garbled.contains(axis)) {
                EXPECT_FALSE(test::LineFixture::heldBy(unit(axis)).contains(QStringLiteral(".")))
                    << trace;
            }
        }
        // Every Stop reached the unit it was meant for as a frame of its own.
        for (const auto& [axis, from] : std::as_const(m_stops)) {
            const QList<QByteArray> frames = unit(axis).framesSince(from);
            EXPECT_TRUE(frames.contains("@" + QByteArray::number(axis) + "."))
                << "stop on axis " << axis << ": " << trace;
        }
        m_stops.clear();
        if (portThere && !m_closed)
            reachEveryUnit(trace);
    }

    // The next greeting reaches every unit on the line, whatever the steps
    // left in their buffers.
    void reachEveryUnit(const std::string& trace) {
        link::Link::Exchange exchange(link());
        for (const int axis : Axes) {
            EXPECT_TRUE(link::askUnitAt(link(), axis)) << "axis " << axis << ": " << trace;
            m_stranded.remove(axis);
        }
        if (m_line.state.UnitConnected)
            link().recovery().nameConnectedUnit();
    }

    test::LineFixture m_line;
    files::Machine m_machine;
    QRandomGenerator m_random;
    QStringList m_log;
    QList<QPair<int, int>> m_stops; // axis, and its unit's frame count at the press
    double m_interruptAt = -1;
    bool m_interruptCloses = false;
    bool m_interruptUnplugs = false;
    bool m_portLost = false;
    QSet<int> m_garbled;  // axes whose memory holds what a lost port left
    QSet<int> m_stranded; // axes the port's loss left in entry, not yet greeted
    bool m_inInterrupt = false;
    bool m_closed = false;
    bool m_tracing = false;
    double m_nextTry = 0;
};

TEST(RandomLine, ExchangesAndInterruptionsLeaveTheLineSound) {
    const int seeds = qEnvironmentVariableIsSet("KQM_RANDOM_LINE_SEEDS")
                          ? qEnvironmentVariableIntValue("KQM_RANDOM_LINE_SEEDS")
                          : 150;
    const quint32 base = static_cast<quint32>(qEnvironmentVariableIntValue("KQM_RANDOM_SEED_BASE"));
    for (quint32 seed = base; seed < base + static_cast<quint32>(seeds); ++seed) {
        SCOPED_TRACE(::testing::Message() << "seed " << seed);
        RandomLine line(seed);
        line.run(12);
        if (::testing::Test::HasFailure())
            return;
    }
    // The traces among the steps got as far as running the unit.
    EXPECT_GT(RandomLine::tracesRun, seeds / 10);
}

} // namespace
