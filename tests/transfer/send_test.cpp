#include "../link/link_fixture.h"
#include "transfer/send.h"

#include <gtest/gtest.h>

using namespace kqm;
using program::ProgramRow;

namespace {

QVector<ProgramRow> rows(const QStringList& commands) {
    QVector<ProgramRow> result;
    for (const QString& command : commands) {
        ProgramRow row;
        row.command = command;
        result << row;
    }
    return result;
}

class SendTest : public ::testing::Test, public test::LinkFixture {};

TEST_F(SendTest, TheExampleProgramCharacterByCharacter) {
    const auto program = rows({"A10", "N500\r@0G", "Q"});
    const transfer::PreparedSend prepared = transfer::prepareSend(program, "0");
    const QString text = prepared.text();
    EXPECT_EQ(text, QStringLiteral("\r@0E0\r@0A10\r@0N500\r@0G\r@0Q\r"));
    EXPECT_EQ(text, transfer::ProgramSendText(program, "0"));
    EXPECT_EQ(text.size(), 27);
    EXPECT_EQ(transfer::sendListItems(program, "0"),
              (QStringList{"@0A10", "@0N500", "@0G", "@0Q"}));
    EXPECT_TRUE(transfer::endsWithQuit(text));

    QString shown;
    const auto result =
        transfer::sendProgram(deviceLink, prepared, [&shown](int, QChar c) { shown += c; });
    EXPECT_EQ(result.outcome, transfer::SendOutcome::Sent);
    EXPECT_EQ(result.linesSent, 3);
    EXPECT_EQ(shown, text);
    EXPECT_EQ(port.written(), text.toLatin1());
    const auto& writes = port.writes();
    for (qsizetype i = 1; i < writes.size(); ++i)
        EXPECT_GE(writes[i].at - writes[i - 1].at, 0.1 - 1e-9) << i;
    EXPECT_NEAR(clock.now(), 2.7, 1e-6);
    // The unit stored it.
    ASSERT_EQ(port.unit().program().size(), 3);
    EXPECT_TRUE(port.unit().program().at(1).withGo);
}

TEST_F(SendTest, AxisTwelveAndGoMovesToTheUnitBeingProgrammed) {
    // A go move stored for axis 3 goes to the unit being programmed: on a
    // shared line "@3G" would start another motor.
    const auto program = rows({"P100\r@3G", "Q"});
    const QString text = transfer::ProgramSendText(program, "12");
    EXPECT_EQ(text, QStringLiteral("\r@12E0\r@12P100\r@12G\r@12Q\r"));
    EXPECT_EQ(transfer::sendListItems(program, "12"), (QStringList{"@12P100", "@12G", "@12Q"}));
    EXPECT_EQ(transfer::ProgramSendText(rows({"Q"}), "0"), QStringLiteral("\r@0E0\r@0Q\r"));
}

TEST_F(SendTest, StoredFormsGoOutInTheEditorsWireForms) {
    // Go moves in the upload's comma form, line-number branches as addresses.
    const auto program = rows({"A10", "N500,G", "I1,2,2", "&3,2", "P7,G", "U0,3,1", "Q"});
    EXPECT_EQ(transfer::ProgramSendText(program, "0"),
              QStringLiteral("\r@0E0\r@0A10\r@0N500\r@0G\r@0I1,2,3\r@0&3_3\r@0P7\r@0G\r"
                             "@0U0,3,0\r@0Q\r"));
    EXPECT_EQ(transfer::sendListItems(rows({"A10", "N500,G", "I1,2,2", "&3,2", "Q"}), "0"),
              (QStringList{"@0A10", "@0N500", "@0G", "@0I1,2,3", "@0&3_3", "@0Q"}));
}

TEST_F(SendTest, LinesThatCannotGoOutRefuseTheSendAndNameTheLine) {
    const struct {
        QStringList commands;
        QString named;
    } cases[] = {
        {{"A10", "&3,9", "Q"}, "Line 2 branches to line 9"},
        {{"U0,3,0", "Q"}, "Line 1 branches to line 0"},
        {{"A1\r@3E0", "Q"}, "Line 1 holds a control character"},
        {{"A1", QStringLiteral("W5") + QChar(0), "Q"}, "Line 2 holds a control character"},
        {{"A1", "N5\r\r@0G", "Q"}, "Line 2 holds a control character"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.commands.join('|').toStdString());
        const auto prepared = transfer::prepareSend(rows(c.commands), "0");
        ASSERT_TRUE(prepared.refusal.has_value());
        EXPECT_TRUE(prepared.refusal->startsWith(c.named)) << prepared.refusal->toStdString();
        EXPECT_TRUE(transfer::ProgramSendText(rows(c.commands), "0").isEmpty());
    }
}

TEST_F(SendTest, EndsCleanlyWhenThePortClosesOrStopIsPressed) {
    const auto prepared = transfer::prepareSend(rows({"A10", "N500,G", "Q"}), "0");
    clock.addListener([this](double now) {
        if (now > 0.55)
            port.unplug();
    });
    EXPECT_EQ(transfer::sendProgram(deviceLink, prepared, {}).outcome,
              transfer::SendOutcome::PortClosed);
    EXPECT_EQ(port.written().size(), 6); // whole characters only, none after the loss

    // A stop never cuts a line: wherever it comes, the line in hand (both
    // frames of a go move) is finished, program entry ends, the stop frame
    // follows, and the unit is left with an empty program; unless the quit
    // that ends the entry is the program's own last line (below).
    const QByteArray end = "@0Q\r@0.\r@0E0\r@0Q\r";
    const struct {
        int stopAt;
        int linesSent;
        QByteArray written;
    } cases[] = {
        {3, 0, "\r@0E0\r" + end},
        {8, 1, "\r@0E0\r@0A10\r" + end},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stopAt);
        test::LinkFixture second;
        const auto result =
            transfer::sendProgram(second.deviceLink, prepared, [&](int index, QChar) {
                if (index == c.stopAt)
                    second.deviceLink.exchanges().requestStop();
            });
        EXPECT_EQ(result.outcome, transfer::SendOutcome::Stopped);
        EXPECT_EQ(result.linesSent, c.linesSent);
        EXPECT_EQ(second.port.written(), c.written);
        EXPECT_FALSE(second.port.unit().inProgramEntry());
        EXPECT_EQ(second.port.unit().uploadReply(), QByteArray("Q\r*"));
        EXPECT_TRUE(transfer::stoppedSendMessage(result.linesSent)
                        .contains(QStringLiteral("after %1 program lines").arg(c.linesSent)));
    }

    // A stop during the last line, or during the line before a last Quit
    // (whose quit frame is that Quit): the program is in whole; only the
    // stop follows.
    for (const int stopAt : {14, 20, 24}) {
        SCOPED_TRACE(stopAt);
        test::LinkFixture third;
        const auto whole = transfer::sendProgram(third.deviceLink, prepared, [&](int index, QChar) {
            if (index == stopAt)
                third.deviceLink.exchanges().requestStop();
        });
        EXPECT_EQ(whole.outcome, transfer::SendOutcome::Sent);
        EXPECT_EQ(whole.linesSent, 3);
        EXPECT_EQ(third.port.written(), (prepared.text() + "@0.\r").toLatin1());
        EXPECT_EQ(third.port.unit().program().size(), 3);
        EXPECT_FALSE(third.port.unit().inProgramEntry());
    }
}

} // namespace
