#include "line_fixture.h"

#include "link/connection.h"
#include "link/unit_scan.h"
#include "transfer/send_operation.h"
#include "transfer/upload.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

using namespace kqm;
using namespace kqm::transfer;

namespace {

// Seeded sequences of what a user does to a line of three units: Terminal
// characters (half frames among them), Stop at random moments, scans
// stopped part-way, uploads, sends with backup and read-back at every pace
// through a receiver that may drop characters, axis changes and the window
// closing in the middle of any of them. After every step the line must be
// sound.
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
    }

    void run(int steps) {
        for (int step = 0; step < steps && !m_closed; ++step) {
            maybeInterruptLater();
            const int action = static_cast<int>(m_random.bounded(6));
            switch (action) {
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
    }
    void interruptAt(double now) {
        if (m_interruptAt < 0 || now < m_interruptAt || m_inInterrupt)
            return;
        m_interruptAt = -1;
        m_inInterrupt = true;
        if (m_interruptCloses) {
            m_log << QStringLiteral("close");
            link().requestAbort();
            m_closed = true;
        } else {
            pressStop();
        }
        m_inInterrupt = false;
    }
    void pressStop() {
        m_log << QStringLiteral("stop");
        m_stops << qMakePair(m_line.state.AxisAddress.toInt(),
                             static_cast<int>(connected().frameCount()));
        link().stopMotion();
    }

    void terminal() {
        static const char* texts[] = {"@7S\r", "@7M100", "@3$\r", "@0B6", "@7N200\r@7G\r", "@3"};
        const char* text = texts[m_random.bounded(6)];
        m_log << QStringLiteral("type %1").arg(QString::fromLatin1(text).replace('\r', "\\r"));
        if (!link().isBusy())
            link().TransmitTerminalText(QString::fromLatin1(text));
    }
    void stop() { pressStop(); }

    void scan() {
        const int stopAt = static_cast<int>(m_random.bounded(40));
        m_log << QStringLiteral("scan to %1").arg(stopAt);
        link::Link::Exchange exchange(link());
        link::scanUnits(link(), [this, stopAt](int axis, const link::FoundUnit*) {
            if (axis == stopAt)
                link().requestStop();
        });
    }

    void upload() {
        m_log << QStringLiteral("upload");
        const QStringList held = test::LineFixture::heldBy(connected());
        link::Link::Exchange exchange(link());
        const UnitReply reply = readUnitProgram(link(), false);
        // The request without an address reached the connected unit.
        if (reply.responded && !link().sendInterrupted()) {
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
        m_log << QStringLiteral("send %1 at %2%3")
                     .arg(program.join(' '))
                     .arg(pace)
                     .arg(lossy ? QStringLiteral(" lossy") : QString());
        if (!m_line.state.UnitConnected)
            return;
        connected().faults().slowReceiver = lossy ? 0.05 : 0.0;
        const QStringList before = test::LineFixture::heldBy(connected());
        const bool interruptsPending = m_interruptAt >= 0;
        const SendRequest request = m_line.request(program, pace, m_random.bounded(2) == 0);
        const SendReport report = runSend(link(), request, {});
        const QStringList held = test::LineFixture::heldBy(connected());
        const QStringList sent = unitProgram(request.send()).commands;
        const std::string trace = log().toStdString() + " -> " + report.message.toStdString();
        switch (report.end) {
        case SendEnd::NothingSent:
            EXPECT_EQ(held, before) << trace;
            break;
        case SendEnd::Verified:
            EXPECT_EQ(held, sent) << trace;
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
        EXPECT_FALSE(report.entryLeftOpen) << trace;
        // Undisturbed at a pace the unit can follow, a send always verifies.
        if (!interruptsPending && (!lossy || pace >= SurePace)) {
            EXPECT_EQ(report.end, SendEnd::Verified) << trace;
        }
        connected().faults().slowReceiver = 0.0;
    }

    void checkLine() {
        const std::string trace = log().toStdString();
        EXPECT_FALSE(link().isBusy()) << trace;
        for (const int axis : Axes) {
            EXPECT_FALSE(unit(axis).inProgramEntry()) << "axis " << axis << ": " << trace;
            // A stop frame is executed, never stored.
            EXPECT_FALSE(test::LineFixture::heldBy(unit(axis)).contains(QStringLiteral(".")))
                << trace;
        }
        // Every Stop reached the unit it was meant for as a frame of its own.
        for (const auto& [axis, from] : std::as_const(m_stops)) {
            const QList<QByteArray> frames = unit(axis).framesSince(from);
            EXPECT_TRUE(frames.contains("@" + QByteArray::number(axis) + "."))
                << "stop on axis " << axis << ": " << trace;
        }
        m_stops.clear();
    }

    test::LineFixture m_line;
    QRandomGenerator m_random;
    QStringList m_log;
    QList<QPair<int, int>> m_stops; // axis, and its unit's frame count at the press
    double m_interruptAt = -1;
    bool m_interruptCloses = false;
    bool m_inInterrupt = false;
    bool m_closed = false;
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
}

} // namespace
