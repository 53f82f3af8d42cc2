#include "../link/link_fixture.h"
#include "program/listing.h"
#include "transfer/send.h"
#include "transfer/upload.h"
#include "transfer/view.h"

#include <gtest/gtest.h>

using namespace kqm;

namespace {

QStringList commandsOf(const transfer::BuiltProgram& built) {
    QStringList commands;
    for (const auto& row : built.rows)
        commands << row.command;
    return commands;
}

TEST(UploadReply, EdgeCasesOfTheReply) {
    test::FakeMessages messages;
    const struct {
        const char* reply;
        QStringList commands;
        QStringList boxes;
    } cases[] = {
        {"A10\rN500\rGQ\r*", {"A10", "N500,G", "Q"}, {}},
        {"A10\rN500\rGQ\r", {"A10", "N500,G", "Q"}, {}},
        {"A10\n\rN500\r\nGQ\r*\r", {"A10", "N500,G", "Q"}, {}},
        {"N500\rG\rQ\r*", {"N500,G"}, {transfer::InvalidDataMessage, transfer::NoQuitMessage}},
        {"X7\rQ\r*", {"X7", "Q"}, {}},
        {"Q\r*", {"Q"}, {transfer::MemoryClearedMessage}},
        {"A5\rQ\rQ\rQ\r*", {"A5", "Q"}, {}},
        {" A5\rQ\r*", {}, {transfer::InvalidDataMessage, transfer::NoLinesMessage}},
        {"*", {}, {transfer::NoLinesMessage}},
        {"", {}, {transfer::NoLinesMessage}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QString::fromLatin1(c.reply).toStdString());
        messages.clear();
        const auto built = transfer::buildUploadedProgram(QString::fromLatin1(c.reply), messages);
        EXPECT_TRUE(built.stored);
        EXPECT_EQ(commandsOf(built), c.commands);
        EXPECT_EQ(messages.texts(), c.boxes);
    }
    messages.clear();
    const auto corrupted = transfer::buildUploadedProgram("A10\r_Q\r*", messages);
    EXPECT_FALSE(corrupted.stored);
    EXPECT_EQ(messages.texts(), QStringList{transfer::CorruptedMessage});
}

TEST(UploadReply, BranchAddressesBecomeLineNumbers) {
    test::FakeMessages messages;
    // Addresses: A10 0, W5 3, F 8, + 10, & 12: the loop to address 10 names line 4.
    auto built = transfer::buildUploadedProgram("A10\rW5\rF+&3\r10\rU0\r3\r8\rQ\r*", messages);
    EXPECT_EQ(commandsOf(built), (QStringList{"A10", "W5", "F", "+", "&3,4", "U0,3,3", "Q"}));
    EXPECT_TRUE(messages.boxes().isEmpty());

    built = transfer::buildUploadedProgram("A10\r&3\r12\rQ\r*", messages);
    EXPECT_EQ(commandsOf(built), (QStringList{"A10", "Q"}));
    EXPECT_EQ(messages.texts(), QStringList{transfer::InvalidLoopMessage});
}

TEST(UploadReply, LaterTargetsCountOnlyTheLinesThatRemain) {
    test::FakeMessages messages;
    // Line 2 branches nowhere and goes; the loop names W5 (address 8), line 3 as
    // read and line 2 once line 2 is gone.
    const auto built = transfer::buildUploadedProgram("A10\rI1\r2\r999\rW5\r&3\r8\rQ\r*", messages);
    EXPECT_EQ(commandsOf(built), (QStringList{"A10", "W5", "&3,2", "Q"}));
    EXPECT_EQ(messages.texts(), QStringList{transfer::InvalidBranchMessage});
}

class UploadExchange : public ::testing::Test, public test::LinkFixture {};

TEST_F(UploadExchange, ProgramSentAndReadBackIsTheSameProgram) {
    QVector<program::ProgramRow> sent;
    for (const char* command : {"A100", "N500\r@0G", "W10", "&3_2", "P200\r@0G", "X3", "Q"}) {
        program::ProgramRow row;
        row.command = QString::fromLatin1(command);
        sent << row;
    }
    state.UnitConnected = true;
    ASSERT_EQ(transfer::sendProgram(deviceLink, transfer::prepareSend(sent, "0"), {}).outcome,
              transfer::SendOutcome::Sent);
    const transfer::UnitReply reply = transfer::readUnitProgram(deviceLink, &messages);
    ASSERT_TRUE(reply.responded);
    const auto built = transfer::buildUploadedProgram(reply.text, messages);
    EXPECT_EQ(commandsOf(built),
              (QStringList{"A100", "N500,G", "W10", "&2,2", "P200,G", "X3", "Q"}));
    EXPECT_TRUE(messages.boxes().isEmpty());
    // The request went out paced: V, E and the carriage return.
    EXPECT_TRUE(port.written().endsWith("VE\r"));

    const auto listing = transfer::splitUnitListing(transfer::requestUnitListing(deviceLink));
    EXPECT_TRUE(listing.endedWithQ);
    EXPECT_EQ(listing.lines, (QStringList{"0000 A100", "0003 N500,G", "0010 W10", "0015 &2,3",
                                          "0020 P200,G", "0027 X3"}));
}

TEST_F(UploadExchange, SilentUnitTakesTheNotRespondingPath) {
    state.UnitConnected = true;
    port.unit().faults().silent = true;
    EXPECT_FALSE(transfer::readUnitProgram(deviceLink, &messages).responded);
    EXPECT_EQ(messages.texts(), QStringList{transfer::NotRespondingMessage});
    EXPECT_FALSE(port.PortOpen());
    EXPECT_FALSE(state.UnitConnected);
}

TEST_F(UploadExchange, HeldCtsAndStaleDataAreHandled) {
    port.unit().faults().staleOnOpen = "junk";
    port.Close();
    port.open();
    port.unit().faults().ctsFalse = true;
    EXPECT_FALSE(transfer::readUnitProgram(deviceLink, &messages).responded);
    EXPECT_EQ(messages.texts(), QStringList{transfer::NotRespondingMessage});
    EXPECT_FALSE(port.written().contains("VE")); // nothing was requested
}

TEST(UnitListing, SplittingRules) {
    auto listing = transfer::splitUnitListing("0000 A10\rxyQ\r");
    EXPECT_EQ(listing.lines, QStringList{"0000 A10"});
    EXPECT_TRUE(listing.endedWithQ);
    listing = transfer::splitUnitListing("Q\r");
    EXPECT_TRUE(listing.lines.isEmpty());
    EXPECT_TRUE(listing.endedWithQ);
    listing = transfer::splitUnitListing("a\r\r\nb\rQ");
    EXPECT_EQ(listing.lines, (QStringList{"a", "", "\nb"}));
    listing = transfer::splitUnitListing("False");
    EXPECT_TRUE(listing.lines.isEmpty());
    EXPECT_FALSE(listing.endedWithQ);
    QString many;
    for (int i = 0; i < 1200; ++i)
        many += QStringLiteral("%1 G\r").arg(i, 4, 10, QLatin1Char('0'));
    listing = transfer::splitUnitListing(many + "Q\r");
    EXPECT_EQ(listing.lines.size(), transfer::MaxListingLines);
    EXPECT_TRUE(listing.truncated);
    EXPECT_FALSE(listing.endedWithQ);
}

// A transmit buffer that never drains: the request is said to fail, and the
// upload still waits for a reply before it gives up.
TEST_F(UploadExchange, RequestThatIsNotAcceptedStillWaitsForTheReply) {
    state.UnitConnected = true;
    port.unit().faults().transmitStuck = true;
    const double start = clock.now();
    const transfer::UnitReply reply = transfer::readUnitProgram(deviceLink, &messages);
    EXPECT_FALSE(reply.responded);
    EXPECT_EQ(messages.texts(),
              (QStringList{link::NotAcceptedError, transfer::NotRespondingMessage}));
    // The unit is named first: nothing told yet which unit the line named.
    EXPECT_EQ(port.written(), QByteArray("@0$\rV"));
    EXPECT_GE(clock.now() - start, 1.0 - 1e-9); // the request's wait and the reply's
}

} // namespace
