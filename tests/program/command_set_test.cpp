#include "program/command_set.h"
#include "support/fake_messages.h"

#include <gtest/gtest.h>

#include <optional>

using namespace kqm::program;
using kqm::test::FakeMessages;

namespace {

const QString CR = QStringLiteral("\r");

struct CommandCase {
    QString command;
    int line;
    int size; // 0: unknown letter
    std::optional<QString> text;
};

std::ostream& operator<<(std::ostream& os, const CommandCase& c) {
    return os << c.command.toStdString();
}

class CommandTable : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandTable, SizeAndListingText) {
    const CommandCase& c = GetParam();
    FakeMessages messages;
    EXPECT_EQ(CommandSize(c.command, messages), c.size);
    if (c.size == 0) {
        ASSERT_EQ(messages.boxes().size(), 1);
        EXPECT_EQ(messages.boxes().at(0).text, unknownCommandText(c.command));
        EXPECT_EQ(messages.boxes().at(0).icon, kqm::platform::MessageIcon::Critical);
    } else {
        EXPECT_TRUE(messages.boxes().isEmpty());
    }
    EXPECT_EQ(ListingText(c.command, c.line), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    EveryCommand, CommandTable,
    ::testing::Values(
        CommandCase{"A100", 1, 3, "Accel/Decel=100"}, CommandCase{"A", 1, 3, "Accel/Decel=0"},
        CommandCase{"B500", 1, 4, "Base Speed=500"}, CommandCase{"M20000", 1, 4, "Max Speed=20000"},
        CommandCase{"J500", 1, 0, "Jog Speed=500"}, CommandCase{"G", 1, 2, "Repeat Last Move"},
        CommandCase{"S", 1, 2, "Slew"}, CommandCase{".", 1, 2, "Stop Motion"},
        CommandCase{"F", 1, 2, "Finish Move"}, CommandCase{"N500", 1, 5, "Registration Index= 500"},
        CommandCase{"N500" + CR + "@1G", 1, 7, "Go relative 500"},
        CommandCase{"N500,G", 1, 7, "Go relative 500"}, CommandCase{"P100", 1, 7, "P100"},
        CommandCase{"P100,G", 1, 7, "Go Absolute 100"},
        CommandCase{"P8388607" + CR + "@31G", 1, 7, "Go Absolute 8388607"},
        CommandCase{"Z77", 1, 5, "Position Register=77"}, CommandCase{"+", 1, 2, "Direction CW"},
        CommandCase{"-", 1, 2, "Direction CCW"},
        CommandCase{"H0", 1, 3, "Home to Soft and Home Switch (Type0)"},
        CommandCase{"H1", 1, 3, "Home to Home Limit Switch (Type1)"},
        CommandCase{"H7", 1, 3, "Home to Home Limit Switch (Type1)"},
        CommandCase{"O0", 1, 3, "Set Outputs 1-off 2-off"},
        CommandCase{"O1", 1, 3, "Set Outputs 1-on 2-off"},
        CommandCase{"O2", 1, 3, "Set Outputs 1-off 2-on"},
        CommandCase{"O3", 1, 3, "Set Outputs 1-on 2-on"}, CommandCase{"O4", 1, 3, std::nullopt},
        CommandCase{"?5", 1, 3, "If Inputs=5 Then execute the next line "},
        CommandCase{"&12_3", 1, 5, "Loop 3 Times to Address 12"},
        CommandCase{"&2057_255", 1, 5, "Loop 255 Times to Address 2057"},
        CommandCase{"&0_1", 1, 5, "Loop 1 Times to Address 0"},
        // The form an upload writes carries the count first and a line number.
        CommandCase{"&3,7", 1, 5, "Loop 3 Times to Line 7"},
        CommandCase{"X0", 1, 4, "Goto Address 0"}, CommandCase{"W10000", 1, 5, "Wait 10000"},
        CommandCase{"Q", 1, 2, "Quit"},
        CommandCase{"U0,3,7", 7, 0, "Stay at Line 7 UNTIL 1-on 2-on"},
        CommandCase{"U0,3,7", 5, 0, "If Not 1-on 2-on GOTO LINE 7"},
        CommandCase{"U0,9,7", 5, 0, "If Not  GOTO LINE 7"},
        CommandCase{"I1,2,3", 1, 5, std::nullopt}, CommandCase{"D5", 1, 0, std::nullopt},
        CommandCase{"a10", 1, 0, std::nullopt}, CommandCase{"", 1, 0, std::nullopt},
        CommandCase{"~W10", 1, 0, std::nullopt}, CommandCase{" A10", 1, 0, std::nullopt}));

TEST(CommandLetters, ExactlyTheTwentyThreeLettersCaseSensitive) {
    const QString letters = QStringLiteral("ABDGHIJ&.MNOPQXSUWZ+-?F");
    int count = 0;
    for (int c = 0; c < 256; ++c) {
        const QString letter(QChar(static_cast<ushort>(c)));
        if (IsCommandLetter(letter)) {
            ++count;
            EXPECT_TRUE(letters.contains(letter)) << c;
        }
    }
    EXPECT_EQ(count, 23);
    EXPECT_FALSE(IsCommandLetter(QStringLiteral("AB")));
    EXPECT_FALSE(IsCommandLetter(QString()));
    EXPECT_TRUE(IsCommandString(QStringLiteral("A10")));
    EXPECT_FALSE(IsCommandString(QStringLiteral("a10")));
    EXPECT_FALSE(IsCommandString(QStringLiteral("!A10")));
    EXPECT_FALSE(IsCommandString(QString()));
}

TEST(OperandFieldTest, FieldsAndNumberReading) {
    EXPECT_EQ(OperandField(QStringLiteral("A"), 0), 0);
    EXPECT_EQ(OperandField(QStringLiteral("U0,3,7"), 0), 0);
    EXPECT_EQ(OperandField(QStringLiteral("U0,3,7"), 1), 3);
    EXPECT_EQ(OperandField(QStringLiteral("U0,3,7"), 2), 7);
    EXPECT_EQ(OperandField(QStringLiteral("N500,G"), 1), 0);
    EXPECT_EQ(OperandField(QStringLiteral("&12_3"), 0), 12);
    EXPECT_EQ(OperandField("N500" + CR + "@1G", 0), 500);
    EXPECT_EQ(OperandField(QStringLiteral("N500G"), 0), 500);
    EXPECT_EQ(OperandField(QStringLiteral("I1,2"), 2), 0); // padded fields exist
    // Blanks, tabs and line feeds are skipped wherever they stand.
    EXPECT_EQ(OperandField(QStringLiteral("A 1 2"), 0), 12);
    EXPECT_EQ(OperandField(QStringLiteral("A\t-\n5"), 0), -5);
    EXPECT_EQ(OperandField(QStringLiteral("A-12"), 0), -12);
    EXPECT_EQ(OperandField(QStringLiteral("Axyz"), 0), 0);
    EXPECT_EQ(OperandField(QStringLiteral("A--3"), 0), 0);
}

TEST(OperandFieldTest, FractionsRoundHalfToEvenAndSaturate) {
    EXPECT_EQ(readFieldValue(QStringLiteral("2.5")), 2);
    EXPECT_EQ(readFieldValue(QStringLiteral("3.5")), 4);
    EXPECT_EQ(readFieldValue(QStringLiteral("-2.5")), -2);
    EXPECT_EQ(readFieldValue(QStringLiteral("2.51")), 3);
    EXPECT_EQ(readFieldValue(QStringLiteral(".5")), 0);
    EXPECT_EQ(readFieldValue(QStringLiteral("1.5.7")), 2);
    EXPECT_EQ(readFieldValue(QStringLiteral("2147483647")), 2147483647);
    EXPECT_EQ(readFieldValue(QStringLiteral("99999999999999999999")), 2147483647);
    EXPECT_EQ(readFieldValue(QStringLiteral("-99999999999")), -2147483647 - 1);
}

TEST(CommandText, SixteenBitOperandsWrapInTheListing) {
    // "?", "&" and "U" operands are 16-bit values in the listing.
    EXPECT_EQ(ListingText(QStringLiteral("?65537"), 1),
              QStringLiteral("If Inputs=1 Then execute the next line "));
    EXPECT_EQ(ListingText(QStringLiteral("&40000_2"), 1),
              QStringLiteral("Loop 0 Times to Address -25536"));
}

TEST(CommandText, SwitchStateAndStripping) {
    EXPECT_EQ(SwitchStateText(0), QStringLiteral("1-off 2-off"));
    EXPECT_EQ(SwitchStateText(1), QStringLiteral("1-on 2-off"));
    EXPECT_EQ(SwitchStateText(2), QStringLiteral("1-off 2-on"));
    EXPECT_EQ(SwitchStateText(3), QStringLiteral("1-on 2-on"));
    EXPECT_EQ(SwitchStateText(4), QString());
    EXPECT_EQ(SwitchStateText(-1), QString());
    const QString text = QStringLiteral("N5\r\n@1G");
    EXPECT_EQ(StripCrLf(text), QStringLiteral("N5@1G"));
    EXPECT_EQ(StripLf(text), QStringLiteral("N5\r@1G"));
}

TEST(CommandText, LoopCountOnlyFromTheEditorsPositions) {
    EXPECT_EQ(ListingText(QStringLiteral("&1234_5"), 1),
              QStringLiteral("Loop 5 Times to Address 1234"));
    EXPECT_EQ(ListingText(QStringLiteral("&1_12345"), 1),
              QStringLiteral("Loop 12345 Times to Address 1"));
    // A count of five characters after a four-digit address is not read.
    EXPECT_EQ(ListingText(QStringLiteral("&1234_12345"), 1),
              QStringLiteral("Loop 0 Times to Address 1234"));
    // No count at all reads 0, never a number left over from another line.
    EXPECT_EQ(ListingText(QStringLiteral("&12"), 1), QStringLiteral("Loop 0 Times to Address 12"));
}

} // namespace
