#include "line_fixture.h"
#include "link/link.h"
#include "link/link_state.h"
#include "platform/virtual_clock.h"
#include "simulator/simulated_port.h"
#include "support/fake_messages.h"
#include "support/program_files.h"
#include "transfer/send.h"
#include "transfer/unit_backup.h"
#include "transfer/upload.h"
#include "transfer/verify.h"

#include <QDir>
#include <QSysInfo>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kqm;
using namespace kqm::transfer;

namespace {

QVector<program::ProgramRow> rows(const QStringList& commands) {
    return test::LineFixture::rows(commands);
}

// What is compared is what the unit gives back: a go move as one line, a
// loop as count and address, the upload's comma forms as the wire forms.
TEST(Verify, ComparesOnTheUnitsOwnTerms) {
    const PreparedSend send =
        prepareSend(rows({"A10", "N500\r@0G", "&0_3", "U0,1,2", "P7,G", "Q"}), "0");
    ASSERT_FALSE(send.refusal);
    const QStringList held = {"A10", "N500,G", "&3,0", "U0,1,3", "P7,G", "Q"};
    const Verification good = compareWithUnit(send, {false, false, held});
    EXPECT_TRUE(good.verified());
    EXPECT_EQ(good.message, QStringLiteral("The unit holds the program (6 lines verified)"));

    const struct {
        QStringList held;
        int line;
        const char* says;
    } cases[] = {
        {{"A10", "N500,G", "&3,0", "U0,1,3", "P7", "Q"}, 5, "sent P7,G, the unit holds P7"},
        {{"A10", "N500"}, 2, "sent N500,G, the unit holds N500"},
        {{"A10"}, 2, "line 2 (N500,G) and the lines after it are missing"},
        {held + QStringList{"W5"}, 7, "more lines than were sent; line 7 there is W5"},
    };
    for (const auto& c : cases) {
        const Verification bad = compareWithUnit(send, {false, false, c.held});
        EXPECT_EQ(bad.outcome, Verification::Outcome::Differs);
        EXPECT_EQ(bad.line, c.line);
        EXPECT_TRUE(bad.message.contains(QLatin1String(c.says))) << bad.message.toStdString();
    }
    EXPECT_FALSE(compareWithUnit(send, {true, false, {}}).verified());
}

// A send to the simulated unit reads back as verified.
TEST(Verify, ASentProgramReadsBackVerified) {
    platform::VirtualClock clock;
    simulator::SimulatedPort port(clock);
    test::FakeMessages messages;
    link::LinkState state;
    link::Link link(port, clock, messages, state);
    ASSERT_TRUE(port.open());
    state.UnitConnected = true;
    const PreparedSend send = prepareSend(rows({"A10", "N500\r@0G", "W5", "&3_2", "Q"}), "0");
    ASSERT_EQ(sendProgram(link, send, {}).outcome, SendOutcome::Sent);
    Verification verification;
    {
        link::Link::Exchange exchange(link);
        verification = verifySend(link, send);
    }
    EXPECT_TRUE(verification.verified()) << verification.message.toStdString();
    EXPECT_EQ(verification.lines, 5);
}

class BackupTest : public ::testing::Test {
protected:
    QDateTime at(int seconds) const {
        return QDateTime(QDate(2026, 12, 8), QTime(6, 0)).addSecs(seconds);
    }
    QTemporaryDir dir;
};

// A program becomes a program file; a unit without one, or with corrupted
// memory, is only recorded so.
TEST_F(BackupTest, KeepsWhatTheUnitHeld) {
    const QString folder = axisBackupDirectory(dir.path(), 3);
    const BackupResult program = keepBackup("A10\rN500\rGQ\r*", folder, 3, "KQM21", "/dev/ttyUSB0", at(0));
    ASSERT_TRUE(program.ok) << program.error.toStdString();
    ASSERT_TRUE(keepBackup("Q\r*", folder, 3, "KQM21", "/dev/ttyUSB0", at(1)).ok);
    ASSERT_TRUE(keepBackup("A1_0\r*", folder, 3, "KQM21", "/dev/ttyUSB0", at(2)).ok);

    const QVector<UnitBackup> kept = allBackups(dir.path());
    ASSERT_EQ(kept.size(), 3);
    EXPECT_EQ(kept[0].state, UnitBackup::State::Corrupted);
    EXPECT_EQ(kept[1].state, UnitBackup::State::Empty);
    EXPECT_TRUE(kept[1].programFile.isEmpty());
    const UnitBackup& first = kept[2];
    EXPECT_EQ(first.state, UnitBackup::State::Program);
    EXPECT_EQ(first.axis, 3);
    EXPECT_EQ(first.model, QStringLiteral("KQM21"));
    EXPECT_EQ(first.device, QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(first.taken, at(0));
    EXPECT_EQ(first.lines, 3);
    EXPECT_EQ(first.bytes, 12);
    QStringList commands;
    for (const auto& row : test::ReadProgramFile(first.programFile))
        commands << row.command;
    EXPECT_EQ(commands, (QStringList{"A10", "N500,G", "Q"}));
    // Nothing but the records and the one program file, hidden files included.
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 4);
}

// What a keeper killed half-way left (a program file whose record never came,
// a partial file, a journal, the folder's lock) is swept by the next keeper;
// a backup whole is kept.
TEST_F(BackupTest, TheNextKeeperSweepsWhatAKilledOneLeft) {
    const QString folder = axisBackupDirectory(dir.path(), 1);
    ASSERT_TRUE(keepBackup("W5\rQ\r*", folder, 1, "KQM20", "/dev/ttyS0", at(0)).ok);
    const QStringList whole = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    for (const char* left : {"20261208-060001-000.mdb", "20261208-060001-000.mdb-journal",
                             ".20261208-060002-000.mdb.partial-abc123",
                             ".20261208-060002-000.mdb.partial-abc123-journal"}) {
        QFile file(QDir(folder).filePath(left));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("left");
    }
    // A lock whose keeper is gone.
    QFile lock(QDir(folder).filePath(".keeping.lock"));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.write("999999999\nkqmctl\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    lock.close();
    const BackupResult next = keepBackup("W6\rQ\r*", folder, 1, "KQM20", "/dev/ttyS0", at(5));
    ASSERT_TRUE(next.ok) << next.error.toStdString();
    QStringList now = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    now.removeOne(QFileInfo(next.backup.record).fileName());
    now.removeOne(QFileInfo(next.backup.programFile).fileName());
    EXPECT_EQ(now, whole);
}

TEST_F(BackupTest, OnlyTheNewestFiftyAreKept) {
    const QString folder = axisBackupDirectory(dir.path(), 0);
    for (int i = 0; i < BackupsKept + 3; ++i)
        ASSERT_TRUE(keepBackup(i % 2 ? "Q\r*" : "W5\rQ\r*", folder, 0, "KQM20", "/dev/ttyUSB0", at(i)).ok);
    const QVector<UnitBackup> kept = backupsIn(folder);
    ASSERT_EQ(kept.size(), BackupsKept);
    EXPECT_EQ(kept.first().taken, at(BackupsKept + 2));
    EXPECT_EQ(kept.last().taken, at(3));
    // The program files of removed backups went with them.
    EXPECT_EQ(QDir(folder).entryList({"*.mdb"}, QDir::Files).size(), BackupsKept / 2);

    // A clock put back names the newest backup as if it were the oldest: it
    // is kept all the same, and the oldest of the others goes.
    const BackupResult back = keepBackup("W7\rQ\r*", folder, 0, "KQM20", "/dev/ttyUSB0", at(-86400));
    ASSERT_TRUE(back.ok);
    EXPECT_TRUE(QFile::exists(back.backup.record));
    EXPECT_TRUE(QFile::exists(back.backup.programFile));
    EXPECT_EQ(backupsIn(folder).size(), BackupsKept);
}

} // namespace
