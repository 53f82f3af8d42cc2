#include "line_fixture.h"

#include "transfer/send_operation.h"
#include "transfer/upload.h"

#include <QDir>
#include <QRandomGenerator>

#include <gtest/gtest.h>

using namespace kqm;
using namespace kqm::transfer;

namespace {

const QStringList OldProgram = {"A10", "Q"};
// A go on a line of its own after a move: the unit folds it into the move.
const QStringList NewProgram = {"A20", "W5", "N500", "G", "Q"};
const QStringList NewInUnit = {"A20", "W5", "N500,G", "Q"};

enum class Holds { Old, New, Empty, Other };

struct PhaseCase {
    const char* name;
    std::function<void(test::LineFixture&)> setUp;
    // When the condition first holds on the wire, the action runs.
    std::function<bool(const QByteArray& written)> when;
    std::function<void(test::LineFixture&)> action;
    double pace;
    SendEnd end;
    Holds holds;
    QString says;                 // the start of the message
    bool confirmedBefore = false; // the send is confirmed before setUp runs
};

// Every way a send can end, by the phase it ends in: what the unit holds
// afterwards, what the user is told, and that the unit is never left in
// program entry while the port is there.
TEST(SendOperation, EachPhaseHasOneOutcome) {
    const auto none = [](test::LineFixture&) {
    };
    const auto never = [](const QByteArray&) {
        return false;
    };
    const auto stop = [](test::LineFixture& line) {
        line.deviceLink.stopMotion();
    };
    const auto close = [](test::LineFixture& line) {
        line.deviceLink.exchanges().requestAbort();
    };
    const auto requests = [](int n) {
        return [n](const QByteArray& written) {
            return written.count("VE") >= n;
        };
    };
    const QList<PhaseCase> cases = {
        {"verified", none, never, none, 0.1, SendEnd::Verified, Holds::New,
         "The unit holds the program (5 lines verified)"},
        {"Stop while the backup is read", none, requests(1), stop, 0.1, SendEnd::NothingSent,
         Holds::Old, NothingSentStoppedMessage},
        {"the window closed while the backup is read", none, requests(1), close, 0.1,
         SendEnd::NothingSent, Holds::Old, NothingSentStoppedMessage},
        {"Stop during the send", none,
         [](const QByteArray& written) { return written.contains("@0W5"); }, stop, 0.1,
         SendEnd::Stopped, Holds::Empty, stoppedSendMessage(2)},
        {"the window closed during the read-back",
         [](auto& line) { line.port.unit().faults().replyDelay = 0.3; }, requests(2), close, 0.1,
         SendEnd::SentNotVerified, Holds::New, NotVerifiedStoppedMessage},
        {"the port closed before OK", [](auto& line) { line.port.Close(); }, never, none, 0.1,
         SendEnd::NothingSent, Holds::Old, NothingSentClosedMessage, true},
        {"a faster pace the unit cannot follow",
         [](auto& line) { line.port.unit().faults().slowReceiver = 0.05; }, never, none, 0.02,
         SendEnd::Differs, Holds::Other, "The unit holds something else"},
        {"a faster pace than 300 baud carries",
         [](auto& line) {
             line.state.BaudRate = 300;
             line.port.unit().faults().slowReceiver = 0.05;
         },
         never, none, 0.01, SendEnd::Verified, Holds::New, "The unit holds the program"},
        {"a line that starts to flood during the backup",
         [](auto& line) {
             line.port.unit().faults().noiseRate = 2000;
             line.port.unit().faults().noiseAfterFrames = line.port.unit().frameCount() + 1;
         },
         never, none, 0.1, SendEnd::NothingSent, Holds::Old, "The line on simulated unit keeps"},
    };
    for (const PhaseCase& c : cases) {
        SCOPED_TRACE(c.name);
        test::LineFixture line;
        line.store(line.port.unit(), OldProgram);
        std::optional<SendRequest> request;
        if (c.confirmedBefore)
            request = line.request(NewProgram, c.pace);
        c.setUp(line);
        if (!request)
            request = line.request(NewProgram, c.pace);
        bool fired = false;
        line.clock.addListener([&](double) {
            if (!fired && c.when(line.port.written())) {
                fired = true;
                c.action(line);
            }
        });
        const SendReport report = runSend(line.deviceLink, *request, {});
        EXPECT_EQ(report.end, c.end);
        EXPECT_TRUE(report.message.startsWith(c.says)) << report.message.toStdString();
        const QStringList held = line.heldBy(line.port.unit());
        switch (c.holds) {
        case Holds::Old:
            EXPECT_EQ(held, OldProgram);
            break;
        case Holds::New:
            EXPECT_EQ(held, NewInUnit);
            break;
        case Holds::Empty:
            EXPECT_EQ(held, QStringList{"Q"});
            break;
        case Holds::Other:
            EXPECT_NE(held, NewInUnit);
            break;
        }
        EXPECT_FALSE(line.port.unit().inProgramEntry());
        EXPECT_FALSE(report.entryLeftOpen);
        EXPECT_FALSE(line.deviceLink.exchanges().isBusy());
        // Nothing else was said: the outcome is the one message.
        EXPECT_TRUE(line.messages.boxes().isEmpty())
            << line.messages.texts().join('|').toStdString();
        // Stop reached the unit as a frame of its own.
        if (QByteArray(c.name).startsWith("Stop")) {
            EXPECT_TRUE(fired);
            EXPECT_TRUE(line.port.unit().frames().contains("@0."));
        }
        if (c.end == SendEnd::Verified && c.pace < 0.1) {
            // The pace fell back to the sure one: no character came sooner.
            const QList<double> times = line.timesOf("W5NG");
            for (qsizetype i = 1; i < times.size(); ++i)
                EXPECT_GE(times.at(i) - times.at(i - 1), 0.1 - 1e-9);
        }
    }
}

// The verify names a branch whose target an until line has shifted in the
// unit, by the unit's own listing, and never calls it verified.
TEST(SendOperation, UntilLinesShiftTargetsAndTheVerifySaysSo) {
    const struct {
        QStringList program;
        SendEnd end;
        const char* says;
    } cases[] = {
        // A goto to line 3 (address 3 by the tool's count): in the unit the
        // until line takes 5 bytes, and address 3 is the until line itself.
        {{"A10", "U0,1,1", "W5", "X3", "Q"},
         SendEnd::Differs,
         "Line 4 branches to address 3, meant for line 3, but in the unit that is line 2"},
        // A loop back to the start is where it was meant to be.
        {{"A10", "&0_2", "U0,1,1", "Q"}, SendEnd::Verified, "The unit holds the program"},
        {{"A10", "N500", "G", "W5", "Q"}, SendEnd::Verified, "The unit holds the program"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program.join(' ').toStdString());
        test::LineFixture line;
        const SendReport report = runSend(line.deviceLink, line.request(c.program, 0.1, false), {});
        EXPECT_EQ(report.end, c.end);
        EXPECT_TRUE(report.message.startsWith(QLatin1String(c.says)))
            << report.message.toStdString();
    }
}

} // namespace

namespace {

// A unit left in program entry outside any exchange (a faster send whose
// quit may have been lost, sent on its own): Stop ends the entry first, so
// the stop frame is executed, not stored.
TEST(SendOperation, StopEndsAProgramEntryLeftOpen) {
    test::LineFixture line;
    line.port.unit().faults().slowReceiver = 0.05;
    PreparedSend send = prepareSend(test::LineFixture::rows(NewProgram), "0");
    send.pace = 0.01;
    sendProgram(line.deviceLink, send, {});
    ASSERT_TRUE(line.deviceLink.farEnd().entryMayBeOpen());
    line.deviceLink.stopMotion();
    EXPECT_FALSE(line.port.unit().inProgramEntry());
    EXPECT_FALSE(line.deviceLink.farEnd().entryMayBeOpen());
    EXPECT_FALSE(line.deviceLink.exchanges().isBusy());
    EXPECT_FALSE(test::LineFixture::heldBy(line.port.unit()).contains(QStringLiteral(".")));
    EXPECT_EQ(line.port.unit().frames().last(), QByteArray("@0."));
}

} // namespace

namespace {

// A fast send over a line that loses characters for every unit: what is
// left of a cut frame names another unit on the line ("@0W5" without "0W"
// is "@5"), and the quit is lost. The read-back still asks the unit that
// was sent to, never the other one.
TEST(SendOperation, TheReadBackAsksTheUnitThatWasSentTo) {
    test::LineFixture line;
    simulator::SimulatedUnit& other = line.port.addUnit(QStringLiteral("KQM20"), 5);
    line.store(other, {"A5", "Q"});
    const SendRequest request = line.request({"A10", "W5", "Q"}, 0.01, false);
    // "\r@0E0\r@0A10\r@0W5\r@0Q\r": characters 13 and 14 are "0W", 17 to 20 "@0Q\r".
    line.port.line().loses = [first = qsizetype(-1)](char, qsizetype index) mutable {
        if (first < 0)
            first = index;
        const qsizetype at = index - first;
        return at == 13 || at == 14 || (at >= 17 && at <= 20);
    };
    const SendReport report = runSend(line.deviceLink, request, {});
    line.port.line().loses = {};
    EXPECT_FALSE(report.message.contains("A5")) << report.message.toStdString();
    EXPECT_EQ(test::LineFixture::heldBy(other), (QStringList{"A5", "Q"}));
    EXPECT_FALSE(line.port.unit().inProgramEntry());
    EXPECT_NE(report.end, SendEnd::Verified);
}

} // namespace
