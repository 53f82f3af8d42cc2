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
    const QString text = transfer::ProgramSendText(program, "0");
    EXPECT_EQ(text, QStringLiteral("\r@0E0\r@0A10\r@0N500\r@0G\r@0Q\r"));
    EXPECT_EQ(text.size(), 27);
    EXPECT_EQ(transfer::sendListItems(program, "0"),
              (QStringList{"@0A10", "@0N500", "@0G", "@0Q"}));
    EXPECT_TRUE(transfer::endsWithQuit(text));

    QString shown;
    const auto outcome =
        transfer::sendProgram(deviceLink, text, [&shown](int, QChar c) { shown += c; });
    EXPECT_EQ(outcome, transfer::SendOutcome::Sent);
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

TEST_F(SendTest, AxisTwelveAndStoredAxesOfMoves) {
    const auto program = rows({"P100\r@3G", "Q"});
    const QString text = transfer::ProgramSendText(program, "12");
    EXPECT_EQ(text, QStringLiteral("\r@12E0\r@12P100\r@3G\r@12Q\r"));
    EXPECT_EQ(transfer::sendListItems(program, "12"), (QStringList{"@12P100", "@3G", "@12Q"}));
    EXPECT_EQ(transfer::ProgramSendText(rows({"Q"}), "0"), QStringLiteral("\r@0E0\r@0Q\r"));
}

TEST_F(SendTest, RefusalsBeforeTheDialog) {
    EXPECT_FALSE(transfer::endsWithQuit(transfer::ProgramSendText(rows({"A1", "W10"}), "0")));
    EXPECT_EQ(transfer::sendRefusal(0, true), QStringLiteral("The program is empty."));
    EXPECT_EQ(transfer::sendRefusal(3, false),
              QStringLiteral("The program size exceeds available memory.  The program cannot be "
                             "sent until total memory usage is reduced to 2047 bytes or less."));
    EXPECT_EQ(transfer::sendRefusal(3, true), std::nullopt);
}

TEST_F(SendTest, EndsCleanlyWhenThePortClosesOrStopIsPressed) {
    const QString text = transfer::ProgramSendText(rows({"A10", "Q"}), "0");
    clock.addListener([this](double now) {
        if (now > 0.55)
            port.unplug();
    });
    EXPECT_EQ(transfer::sendProgram(deviceLink, text, {}), transfer::SendOutcome::PortClosed);
    EXPECT_EQ(port.written().size(), 6); // whole characters only, none after the loss

    test::LinkFixture second;
    int sent = 0;
    const auto outcome = transfer::sendProgram(second.deviceLink, text, [&](int index, QChar) {
        sent = index + 1;
        if (index == 3)
            second.deviceLink.requestStop();
    });
    EXPECT_EQ(outcome, transfer::SendOutcome::Stopped);
    EXPECT_EQ(sent, 4);
    EXPECT_EQ(second.port.written(), text.left(4).toLatin1());
}

} // namespace
