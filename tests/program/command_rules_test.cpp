#include "program/command_rules.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

using namespace kqm::program;

namespace {

BuiltCommand build(CommandKind kind, const QString& value, const QString& times = QString()) {
    CommandEntry entry;
    entry.kind = kind;
    entry.value = value;
    entry.times = times;
    return buildCommand(entry, QStringLiteral("3"));
}

struct RangeCase {
    CommandKind kind;
    const char* letter;
    qint64 low;
    qint64 high;
    const char* message;
};

TEST(CommandRules, RangesAtTheirBoundaries) {
    const RangeCase cases[] = {
        {CommandKind::Acceleration, "A", 1, 255, "Acceleration value out of range."},
        {CommandKind::BaseSpeed, "B", 70, 5000, "Base speed value out of range."},
        {CommandKind::MaxSpeed, "M", 70, 20000, "Max speed value out of range."},
        {CommandKind::Registration, "N", 0, 8388607, "Registration value out of range."},
        {CommandKind::Zero, "Z", 0, 8388607, "Position register value out of range."},
        {CommandKind::Wait, "W", 1, 10000, "Wait time out of range."},
    };
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(c.message);
        for (const qint64 ok : {c.low, c.high}) {
            const BuiltCommand accepted = build(c.kind, QString::number(ok));
            EXPECT_TRUE(accepted.ok());
            EXPECT_EQ(accepted.command, QString::fromLatin1(c.letter) + QString::number(ok));
        }
        for (const qint64 bad : {c.low - 1, c.high + 1}) {
            const BuiltCommand refused = build(c.kind, QString::number(bad));
            EXPECT_FALSE(refused.ok());
            EXPECT_EQ(refused.message, QString::fromLatin1(c.message));
            EXPECT_TRUE(refused.command.isEmpty());
        }
    }
    EXPECT_EQ(build(CommandKind::GoRelative, QStringLiteral("8388608")).message,
              QStringLiteral("Number of steps out of range."));
    EXPECT_EQ(build(CommandKind::GoAbsolute, QStringLiteral("-1")).message,
              QStringLiteral("Motor position value out of range."));
}

TEST(CommandRules, NumbersAreReadLikeOperandsAndRoundedDown) {
    EXPECT_EQ(build(CommandKind::Acceleration, QStringLiteral("12.9")).command, "A12");
    EXPECT_EQ(build(CommandKind::Acceleration, QStringLiteral(" 12 ")).command, "A12");
    EXPECT_EQ(build(CommandKind::Acceleration, QStringLiteral("0")).message,
              QStringLiteral("Acceleration value out of range."));
    EXPECT_EQ(readEntryNumber(QStringLiteral("-0.5")), -1);
    EXPECT_EQ(readEntryNumber(QStringLiteral("7x9")), 7);
    EXPECT_EQ(readEntryNumber(QString()), 0);
    // Far beyond 32 bits is out of range, not wrapped into it.
    EXPECT_FALSE(build(CommandKind::Wait, QStringLiteral("4294967297")).ok());
}

TEST(CommandRules, MovesCarryTheAxisAndTheGo) {
    const BuiltCommand move = build(CommandKind::GoRelative, QStringLiteral("1000"));
    EXPECT_EQ(move.command, QStringLiteral("N1000\r@3G"));
    EXPECT_EQ(move.command.size(), 9);
    EXPECT_EQ(build(CommandKind::GoAbsolute, QStringLiteral("0")).command,
              QStringLiteral("P0\r@3G"));
    EXPECT_EQ(build(CommandKind::Registration, QStringLiteral("500")).command, "N500");
}

TEST(CommandRules, LoopChecksCountBeforeAddress) {
    EXPECT_EQ(build(CommandKind::Loop, "12", "5").command, "&12_5");
    EXPECT_EQ(build(CommandKind::Loop, "0", "1").command, "&0_1");
    EXPECT_EQ(build(CommandKind::Loop, "9999", "0").message,
              QStringLiteral("Number of times to loop out of range."));
    EXPECT_EQ(build(CommandKind::Loop, "12", "256").message,
              QStringLiteral("Number of times to loop out of range."));
    for (const char* address : {"2058", "-1", ""})
        EXPECT_EQ(build(CommandKind::Loop, address, "5").message,
                  QStringLiteral("Address number empty or invalid."))
            << address;
}

TEST(CommandRules, GotoPatternsAndFixedCommands) {
    EXPECT_EQ(build(CommandKind::Goto, QString()).command, "X0");
    EXPECT_EQ(build(CommandKind::Goto, "-5").command, "X-5");
    EXPECT_FALSE(build(CommandKind::Goto, "40000").ok());

    CommandEntry outputs;
    outputs.kind = CommandKind::Output;
    outputs.outputs = {"1", ""};
    EXPECT_EQ(buildCommand(outputs, "0").command, "O1");
    outputs.outputs = {"0", "1"};
    EXPECT_EQ(buildCommand(outputs, "0").command, "O2");
    CommandEntry inputs;
    inputs.kind = CommandKind::IfThen;
    inputs.inputs = {"1", "", "1", "0"};
    EXPECT_EQ(buildCommand(inputs, "0").command, "?5");
    inputs.inputs = {"1", "1", "1", "1"};
    EXPECT_EQ(buildCommand(inputs, "0").command, "?15");

    const std::pair<CommandKind, const char*> fixed[] = {{CommandKind::RepeatLastMove, "G"},
                                                         {CommandKind::Slew, "S"},
                                                         {CommandKind::Stop, "."},
                                                         {CommandKind::Finish, "F"},
                                                         {CommandKind::Clockwise, "+"},
                                                         {CommandKind::Counterclockwise, "-"},
                                                         {CommandKind::Home0, "H0"},
                                                         {CommandKind::Home1, "H1"},
                                                         {CommandKind::Quit, "Q"}};
    for (const auto& [kind, text] : fixed)
        EXPECT_EQ(build(kind, "junk").command, QString::fromLatin1(text));
}

TEST(CommandRules, KindNamesRoundTrip) {
    for (int i = 0; i < CommandKindCount; ++i) {
        const auto kind = static_cast<CommandKind>(i);
        EXPECT_EQ(kindFromName(kindName(kind)), kind);
    }
    EXPECT_EQ(kindFromName("teleport"), std::nullopt);
    EXPECT_EQ(valueCount(CommandKind::IfThen), 4);
}

TEST(CommandRules, PreloadForEveryStoredForm) {
    struct Case {
        QString command;
        std::optional<CommandKind> kind;
        int tab;
        QString value;
        QString times;
    };
    const Case cases[] = {
        {".", CommandKind::Stop, 0, "", ""},
        {"A100", CommandKind::Acceleration, 0, "100", ""},
        {"B500", CommandKind::BaseSpeed, 0, "500", ""},
        {"F", CommandKind::Finish, 0, "", ""},
        {"G", CommandKind::RepeatLastMove, 0, "", ""},
        {"H0", CommandKind::Home0, 0, "", ""},
        {"H1", CommandKind::Home1, 0, "", ""},
        {"H7", CommandKind::Home1, 0, "", ""},
        {"?5", CommandKind::IfThen, 2, "", ""},
        {"M900", CommandKind::MaxSpeed, 0, "900", ""},
        {"N500", CommandKind::Registration, 0, "500", ""},
        {"N500\r@0G", CommandKind::GoRelative, 0, "500", ""},
        {"N500,G", CommandKind::GoRelative, 0, "500", ""},
        {"O2", CommandKind::Output, 2, "", ""},
        {"P100,G", CommandKind::GoAbsolute, 0, "100", ""},
        {"P100", std::nullopt, 0, "", ""},
        {"Q", CommandKind::Quit, 2, "", ""},
        {"S", CommandKind::Slew, 0, "", ""},
        {"W10", CommandKind::Wait, 2, "10", ""},
        {"X12", CommandKind::Goto, 2, "12", ""},
        {"Z5", CommandKind::Zero, 0, "5", ""},
        {"+", CommandKind::Clockwise, 0, "", ""},
        {"-", CommandKind::Counterclockwise, 0, "", ""},
        {"&12_5", CommandKind::Loop, 2, "12", "5"},
        {"&2057_255", CommandKind::Loop, 2, "2057", "255"},
        {"&1234_12345", CommandKind::Loop, 2, "", ""},
        {"&3,7", CommandKind::Loop, 2, "", ""},
        {"U0,1,2", std::nullopt, 0, "", ""},
        {"hello", std::nullopt, 0, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command.toStdString());
        const Preload preload = preloadFor(c.command);
        EXPECT_EQ(preload.kind, c.kind);
        if (c.kind) {
            EXPECT_EQ(preload.tab, c.tab);
        }
        EXPECT_EQ(preload.value, c.value);
        EXPECT_EQ(preload.times, c.times);
    }
}

// What is not a plain decimal number is refused, naming the box and showing
// what was typed, before any range is looked at.
TEST(CommandRules, EntriesThatAreNotNumbersAreRefused) {
    const struct {
        CommandKind kind;
        QString value;
        QString times;
        QString field;
        QString typed;
    } cases[] = {
        {CommandKind::GoRelative, "4,000", {}, "Steps", "4,000"},
        {CommandKind::Acceleration, "1a", {}, "Accel/Decel", "1a"},
        {CommandKind::Acceleration, " 1 2", {}, "Accel/Decel", " 1 2"},
        {CommandKind::Wait, "1e3", {}, "Wait (milliseconds)", "1e3"},
        {CommandKind::Loop, "12", "5x", "Times to Loop", "5x"},
        {CommandKind::Loop, "0x10", "5", "Address Number", "0x10"},
        {CommandKind::Goto, "--5", {}, "Address Number", "--5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.toStdString());
        const BuiltCommand refused = build(c.kind, c.value, c.times);
        EXPECT_EQ(refused.message, notANumberMessage(c.field, c.typed));
        EXPECT_TRUE(refused.message.contains(QLatin1Char('"') + c.typed + QLatin1Char('"')));
        EXPECT_TRUE(refused.command.isEmpty());
    }
    for (const char* plain : {"0", "12", "-5", "12.9", ".5", " 7 ", ""})
        EXPECT_TRUE(isPlainNumber(QString::fromLatin1(plain))) << plain;
}

} // namespace
