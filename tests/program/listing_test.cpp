#include "program/listing.h"
#include "program/sqlite_file.h"
#include "support/fake_messages.h"
#include "support/program_files.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kqm::program;
using kqm::test::FakeMessages;
using kqm::test::Line;

namespace {

class ListingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("program.mdb"));
    }

    RefreshResult refresh(const QVector<Line>& lines) {
        kqm::test::WriteProgramFile(path, lines);
        EXPECT_TRUE(table.open(path)) << table.lastError().toStdString();
        return RefreshListing(table, state, messages);
    }

    QTemporaryDir dir;
    QString path;
    ProgramTable table;
    ProgramState state;
    FakeMessages messages;
};

TEST_F(ListingTest, NumbersAddressesTextsAndCaption) {
    QSignalSpy caption(&state, &ProgramState::bytesUsedCaptionChanged);
    const RefreshResult result =
        refresh({{"A10"}, {QStringLiteral("N500\r@0G")}, {"Q", "!", "last line"}});
    ASSERT_TRUE(result.ok) << result.error.toStdString();

    const auto rows = kqm::test::ReadProgramFile(path);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].lineNo, 1);
    EXPECT_EQ(rows[1].lineNo, 2);
    EXPECT_EQ(rows[2].lineNo, 3);
    EXPECT_EQ(rows[0].address, 0);
    EXPECT_EQ(rows[1].address, 3);
    EXPECT_EQ(rows[2].address, 10);
    EXPECT_EQ(rows[0].listing, QStringLiteral("Accel/Decel=10"));
    EXPECT_EQ(rows[1].listing, QStringLiteral("Go relative 500"));
    EXPECT_EQ(rows[2].listing, QStringLiteral("Quit"));
    EXPECT_EQ(rows[2].comment, QStringLiteral("last line"));
    EXPECT_EQ(result.rows, rows);

    EXPECT_EQ(state.ProgramSize, 12);
    EXPECT_TRUE(state.ProgramFits);
    EXPECT_EQ(state.bytesUsedCaption(), QStringLiteral("Memory: 12 of 2047 bytes used."));
    ASSERT_EQ(caption.count(), 1);
    EXPECT_TRUE(messages.boxes().isEmpty());

    const auto addresses = CollectLineAddresses(table);
    ASSERT_TRUE(addresses.has_value());
    EXPECT_EQ(*addresses, (QVector<int16_t>{0, 3, 10}));
}

TEST_F(ListingTest, EmptyTableClearsCaptionWithoutMessage) {
    state.ProgramSize = 99;
    state.ProgramFits = false;
    state.setBytesUsedCaption(QStringLiteral("old"));
    ASSERT_TRUE(refresh({}).ok);
    EXPECT_EQ(state.ProgramSize, 0);
    EXPECT_TRUE(state.ProgramFits);
    EXPECT_EQ(state.bytesUsedCaption(), QString());
    EXPECT_TRUE(messages.boxes().isEmpty());
}

TEST_F(ListingTest, MemoryLimitIsInclusive) {
    // 2047 = 409 x 5 + 2; one more byte crosses the limit.
    QVector<Line> lines(409, Line{"W1"});
    lines.push_back({"Q"});
    ASSERT_TRUE(refresh(lines).ok);
    EXPECT_EQ(state.ProgramSize, 2047);
    EXPECT_TRUE(state.ProgramFits);
    EXPECT_TRUE(messages.boxes().isEmpty());

    table.close();
    lines.removeLast();
    lines.push_back(Line{"A1"});
    ASSERT_TRUE(refresh(lines).ok);
    EXPECT_EQ(state.ProgramSize, 2048);
    EXPECT_FALSE(state.ProgramFits);
    EXPECT_EQ(state.bytesUsedCaption(), QStringLiteral("Memory: 2048 of 2047 bytes used."));
    ASSERT_EQ(messages.boxes().size(), 1);
    EXPECT_EQ(messages.boxes().at(0).text,
              QStringLiteral("Warning: Program size exceeds avaialable memory."));
    EXPECT_EQ(messages.boxes().at(0).icon, kqm::platform::MessageIcon::Critical);
}

TEST_F(ListingTest, MarkersUnknownLinesAndKeptTexts) {
    ASSERT_TRUE(refresh({{"~W10"}, {"hello"}, {"W10", "Wait 5"}, {"I1,2,3"}, {"J500"}, {"Q"}}).ok);
    const auto rows = kqm::test::ReadProgramFile(path);
    ASSERT_EQ(rows.size(), 6);
    EXPECT_EQ(rows[0].command, QStringLiteral("W10"));
    EXPECT_EQ(rows[0].listing, QStringLiteral("Wait 10"));
    EXPECT_EQ(rows[1].listing, QStringLiteral("hello"));
    EXPECT_EQ(rows[1].address, 5);
    EXPECT_EQ(rows[2].address, 5); // "hello" counts no bytes
    EXPECT_EQ(rows[2].listing, QStringLiteral("Wait 5"));
    EXPECT_EQ(rows[3].listing, QStringLiteral("!")); // no text: stays pending
    EXPECT_EQ(rows[4].listing, QStringLiteral("Jog Speed=500"));
    EXPECT_EQ(rows[5].address, 15);
    EXPECT_EQ(messages.texts(),
              QStringList{QStringLiteral("Error: 2 lines hold unknown commands: line 2 (hello), "
                                         "line 5 (J500). They count no bytes.")});

    // The box comes again on every refresh: one box, however many lines.
    messages.clear();
    ASSERT_TRUE(RefreshListing(table, state, messages).ok);
    EXPECT_EQ(messages.boxes().size(), 1);
    QVector<ProgramRow> many(200);
    for (int i = 0; i < many.size(); ++i)
        many[i].command = QStringLiteral("J%1").arg(i);
    messages.clear();
    computeListing(many, messages);
    ASSERT_EQ(messages.boxes().size(), 1);
    EXPECT_TRUE(messages.texts().first().startsWith(
        QStringLiteral("Error: 200 lines hold unknown commands: line 1 (J0), line 2 (J1)")));
    EXPECT_TRUE(messages.texts().first().contains(QStringLiteral("and 195 more")));
    many.resize(1);
    messages.clear();
    computeListing(many, messages);
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("Error: Unknown command (J0).")});
}

TEST_F(ListingTest, UntilTextUsesTheLinesNewNumber) {
    ASSERT_TRUE(refresh({{"A1"}, {"U0,3,2"}, {"U0,1,2"}}).ok);
    const auto rows = kqm::test::ReadProgramFile(path);
    EXPECT_EQ(rows[1].listing, QStringLiteral("Stay at Line 2 UNTIL 1-on 2-on"));
    EXPECT_EQ(rows[2].listing, QStringLiteral("If Not 1-on 2-off GOTO LINE 2"));
}

TEST_F(ListingTest, UnchangedProgramIsNotRewritten) {
    ASSERT_TRUE(refresh({{"A10"}, {"Q"}}).ok);
    const QByteArray before = kqm::test::FileBytes(path);
    ASSERT_TRUE(RefreshListing(table, state, messages).ok);
    EXPECT_EQ(kqm::test::FileBytes(path), before);
}

TEST_F(ListingTest, FailedWriteLeavesTableAsItWasAndIsReported) {
    kqm::test::WriteProgramFile(path, {{"A10"}, {"B600"}, {"Q"}});
    const QByteArray before = kqm::test::FileBytes(path);
    // A second connection holding a write lock makes the refresh's write fail.
    ASSERT_TRUE(table.open(path));
    SqliteFile blocker;
    ASSERT_TRUE(blocker.open(path));
    ASSERT_TRUE(blocker.exec(QStringLiteral("BEGIN IMMEDIATE")));
    const RefreshResult result = RefreshListing(table, state, messages);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.isEmpty());
    EXPECT_EQ(state.bytesUsedCaption(), QString()); // nothing published
    blocker.exec(QStringLiteral("ROLLBACK"));
    blocker.close();
    EXPECT_EQ(kqm::test::FileBytes(path), before);
}

TEST_F(ListingTest, ReadsFilesWithOtherColumnNamesByPosition) {
    SqliteFile file;
    ASSERT_TRUE(file.open(path));
    ASSERT_TRUE(file.exec(QStringLiteral("CREATE TABLE Main (n, a, cmd, txt, note, extra)")));
    ASSERT_TRUE(file.exec(QStringLiteral(
        "INSERT INTO Main VALUES ('x', NULL, 'A5', '!', NULL, 1), (7, 7, 'Q', '!', 'end', 2)")));
    file.close();
    ASSERT_TRUE(table.open(path));
    ASSERT_TRUE(RefreshListing(table, state, messages).ok);
    const auto rows = kqm::test::ReadProgramFile(path);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].lineNo, 1);
    EXPECT_EQ(rows[1].address, 3);
    EXPECT_EQ(rows[1].listing, QStringLiteral("Quit"));
    EXPECT_EQ(rows[1].comment, QStringLiteral("end"));
}

TEST(ProgramTableOpen, RejectsFilesThatAreNotPrograms) {
    QTemporaryDir dir;
    ProgramTable table;
    EXPECT_FALSE(
        table.open(dir.filePath(QStringLiteral("missing.mdb")), SqliteFile::Mode::ReadOnly));

    const QString text = dir.filePath(QStringLiteral("notes.mdb"));
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("this is not a database, just some text that is long enough\n", 60)
                   .repeated(40));
    file.close();
    EXPECT_FALSE(table.open(text));
    EXPECT_FALSE(table.lastError().isEmpty());

    const QString other = dir.filePath(QStringLiteral("other.mdb"));
    SqliteFile db;
    ASSERT_TRUE(db.open(other));
    ASSERT_TRUE(db.exec(QStringLiteral("CREATE TABLE Other (a)")));
    db.close();
    EXPECT_FALSE(table.open(other));

    const QString narrow = dir.filePath(QStringLiteral("narrow.mdb"));
    ASSERT_TRUE(db.open(narrow));
    ASSERT_TRUE(db.exec(QStringLiteral("CREATE TABLE Main (a, b, c)")));
    db.close();
    EXPECT_FALSE(table.open(narrow));
}

} // namespace
