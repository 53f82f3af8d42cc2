#include "files/file_copy.h"
#include "files/settings_table.h"
#include "files/startup.h"
#include "program/sqlite_file.h"
#include "support/fake_messages.h"
#include "support/program_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kqm::files;
using kqm::test::FakeMessages;

namespace {

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        files = ProgramDirectoryFiles::in(dir.path());
    }

    LoadOutcome start() {
        SettingsTable settings;
        const LoadOutcome outcome = LoadDatabases(files, settings, messages);
        flagWhileRunning = settings.record(SettingsTable::CleanExit).value_or(QStringLiteral("?"));
        return outcome;
    }

    void setFlag(const QString& value) {
        SettingsTable settings;
        ASSERT_TRUE(settings.open(files.settings));
        ASSERT_TRUE(settings.setRecord(SettingsTable::CleanExit, value));
    }

    QString flag() {
        SettingsTable settings;
        return settings.open(files.settings)
                   ? settings.record(SettingsTable::CleanExit).value_or(QString())
                   : QStringLiteral("<unreadable>");
    }

    QStringList asideFiles() const {
        return QDir(dir.path()).entryList({QStringLiteral("*.damaged-*")}, QDir::Files);
    }

    void writeGarbage(const QString& path) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
    }

    QTemporaryDir dir;
    ProgramDirectoryFiles files;
    FakeMessages messages;
    QString flagWhileRunning;
};

// A second start finds the first by its lock and leaves the directory alone;
// once the first has ended, the next start claims it.
TEST_F(StartupTest, OneWindowPerProgramDirectory) {
    std::optional<DirectoryClaim> first = claimProgramDirectory(files);
    ASSERT_TRUE(first->held()) << first->refusal.toStdString();
    const DirectoryClaim second = claimProgramDirectory(files);
    EXPECT_FALSE(second.held());
    EXPECT_TRUE(second.refusal.contains(
        QStringLiteral("already running (process %1)").arg(QCoreApplication::applicationPid())))
        << second.refusal.toStdString();
    first.reset();
    EXPECT_TRUE(claimProgramDirectory(files).held());
}

TEST_F(StartupTest, FirstStartMakesEverythingWithDefaultsSilently) {
    const LoadOutcome outcome = start();
    EXPECT_TRUE(outcome.ok);
    EXPECT_FALSE(outcome.recovered);
    EXPECT_TRUE(messages.boxes().isEmpty()) << messages.texts().join('|').toStdString();
    EXPECT_EQ(flagWhileRunning, QStringLiteral("0"));
    EXPECT_TRUE(kqm::test::ReadProgramFile(files.workingCopy).isEmpty());
    EXPECT_TRUE(QFile::exists(files.templ));

    SettingsTable settings;
    ASSERT_TRUE(settings.open(files.settings));
    EXPECT_EQ(settings.record(SettingsTable::ComPort), QStringLiteral("1"));
    EXPECT_EQ(settings.record(SettingsTable::BaudRate), QStringLiteral("9600"));
    EXPECT_EQ(settings.record(SettingsTable::Axis), QStringLiteral("0"));
}

TEST_F(StartupTest, CleanExitReplacesWorkingCopyAndCrashKeepsIt) {
    ASSERT_TRUE(start().ok);
    kqm::test::WriteProgramFile(files.workingCopy, {{"A10"}, {"Q"}});

    // The run ends without a clean exit: the next start keeps the program.
    LoadOutcome outcome = start();
    EXPECT_TRUE(outcome.recovered);
    ASSERT_EQ(messages.boxes().size(), 1);
    EXPECT_EQ(messages.boxes().at(0).text, RecoveryMessage);
    EXPECT_EQ(messages.boxes().at(0).icon, kqm::platform::MessageIcon::Information);
    EXPECT_EQ(kqm::test::ReadProgramFile(files.workingCopy).size(), 2);
    EXPECT_EQ(flagWhileRunning, QStringLiteral("0"));

    // Every start after an unclean end shows the message again.
    messages.clear();
    EXPECT_TRUE(start().recovered);
    EXPECT_EQ(messages.boxes().size(), 1);

    // A clean exit, then a start: fresh working copy, no message.
    {
        SettingsTable settings;
        ASSERT_TRUE(settings.open(files.settings));
        ASSERT_TRUE(markCleanExit(settings));
    }
    EXPECT_EQ(flag(), QStringLiteral("1"));
    messages.clear();
    outcome = start();
    EXPECT_FALSE(outcome.recovered);
    EXPECT_TRUE(messages.boxes().isEmpty());
    EXPECT_TRUE(kqm::test::ReadProgramFile(files.workingCopy).isEmpty());
}

TEST_F(StartupTest, OnlyTheFirstCharacterOfTheFlagCounts) {
    ASSERT_TRUE(start().ok);
    const struct {
        QString value;
        bool clean;
    } cases[] = {{"1", true},  {"1 ", true},  {"10", true},  {"", false},
                 {"0", false}, {" 1", false}, {"x1", false}, {"-1", false}};
    for (const auto& c : cases) {
        setFlag(c.value);
        messages.clear();
        EXPECT_EQ(start().recovered, !c.clean) << c.value.toStdString();
        EXPECT_EQ(messages.boxes().size(), c.clean ? 0 : 1) << c.value.toStdString();
    }
    EXPECT_TRUE(isCleanExitFlag(QStringLiteral("1abc")));
    EXPECT_FALSE(isCleanExitFlag(QString()));
}

TEST_F(StartupTest, DamagedSettingsAreMovedAsideAndTheWorkingCopyKept) {
    ASSERT_TRUE(start().ok);
    kqm::test::WriteProgramFile(files.workingCopy, {{"W10"}});
    setFlag(QStringLiteral("1"));
    writeGarbage(files.settings);
    const QByteArray garbage = kqm::test::FileBytes(files.settings);

    messages.clear();
    const LoadOutcome outcome = start();
    EXPECT_TRUE(outcome.ok);
    // Without the old flag nobody can say the program was saved: keep it.
    EXPECT_TRUE(outcome.recovered);
    EXPECT_EQ(kqm::test::ReadProgramFile(files.workingCopy).size(), 1);
    ASSERT_EQ(asideFiles().size(), 1);
    EXPECT_EQ(kqm::test::FileBytes(dir.filePath(asideFiles().at(0))), garbage);
    ASSERT_EQ(messages.boxes().size(), 2);
    EXPECT_TRUE(messages.boxes().at(0).text.contains(QStringLiteral("config.kqm")));
    EXPECT_TRUE(messages.boxes().at(0).text.contains(asideFiles().at(0)));
    EXPECT_EQ(messages.boxes().at(1).text, RecoveryMessage);
    EXPECT_EQ(flag(), QStringLiteral("0"));
}

TEST_F(StartupTest, SettingsWithTooFewRecordsCountAsDamaged) {
    {
        kqm::program::SqliteFile file;
        ASSERT_TRUE(file.open(files.settings));
        ASSERT_TRUE(file.exec(QStringLiteral("CREATE TABLE \"Main Table\" (a, b)")));
        ASSERT_TRUE(file.exec(QStringLiteral("INSERT INTO \"Main Table\" VALUES ('p', '2')")));
    }
    const LoadOutcome outcome = start();
    EXPECT_TRUE(outcome.ok);
    EXPECT_FALSE(outcome.recovered); // no working copy existed to keep
    EXPECT_EQ(asideFiles().size(), 1);
    ASSERT_EQ(messages.boxes().size(), 1);
    EXPECT_TRUE(messages.boxes().at(0).text.contains(QStringLiteral("fewer than six")));
}

TEST_F(StartupTest, MissingOrDamagedTemplateIsRemade) {
    ASSERT_TRUE(start().ok);
    setFlag(QStringLiteral("1"));
    QFile::remove(files.templ);
    messages.clear();
    EXPECT_TRUE(start().ok);
    EXPECT_TRUE(messages.boxes().isEmpty());
    EXPECT_TRUE(QFile::exists(files.templ));

    setFlag(QStringLiteral("1"));
    writeGarbage(files.templ);
    EXPECT_TRUE(start().ok);
    ASSERT_EQ(messages.boxes().size(), 1);
    EXPECT_TRUE(messages.boxes().at(0).text.contains(QStringLiteral("blank.kqm")));
    EXPECT_EQ(asideFiles().size(), 1);
    EXPECT_TRUE(kqm::test::ReadProgramFile(files.workingCopy).isEmpty());
}

// An installed copy ships a read-only template (root's, under share/): the
// user's template and working copy are made from it and are the user's to
// write; a damaged user template is made again from it.
TEST_F(StartupTest, AShippedTemplateIsCopiedIntoAWritableTemplateAndWorkingCopy) {
    QTemporaryDir share;
    ASSERT_TRUE(share.isValid());
    files.shippedTemplate = share.filePath(QStringLiteral("blank.kqm"));
    kqm::test::WriteProgramFile(files.shippedTemplate, {{QStringLiteral("A10")}});
    ASSERT_TRUE(QFile::setPermissions(files.shippedTemplate, QFileDevice::ReadOwner |
                                                                 QFileDevice::ReadGroup |
                                                                 QFileDevice::ReadOther));
    const QByteArray shipped = kqm::test::FileBytes(files.shippedTemplate);

    for (int round = 0; round < 2; ++round) {
        messages.clear();
        ASSERT_TRUE(start().ok);
        EXPECT_EQ(messages.boxes().size(), round) << "round " << round;
        for (const QString& made : {files.templ, files.workingCopy}) {
            EXPECT_TRUE(QFileInfo(made).permissions() & QFileDevice::WriteOwner)
                << made.toStdString();
            const auto rows = kqm::test::ReadProgramFile(made);
            ASSERT_EQ(rows.size(), 1) << made.toStdString();
            EXPECT_EQ(rows.at(0).command, QStringLiteral("A10"));
        }
        kqm::program::ProgramTable table;
        EXPECT_TRUE(table.open(files.workingCopy)) << table.lastError().toStdString();
        setFlag(QStringLiteral("1"));
        writeGarbage(files.templ); // the second round finds it damaged
    }
    EXPECT_EQ(kqm::test::FileBytes(files.shippedTemplate), shipped);
}

TEST_F(StartupTest, DamagedWorkingCopyOnRecoveryIsMovedAsideNotLost) {
    ASSERT_TRUE(start().ok);
    writeGarbage(files.workingCopy);
    const LoadOutcome outcome = start();
    EXPECT_TRUE(outcome.ok);
    EXPECT_TRUE(outcome.recovered);
    ASSERT_EQ(messages.boxes().size(), 2);
    EXPECT_EQ(messages.boxes().at(0).text, RecoveryMessage);
    EXPECT_TRUE(messages.boxes().at(1).text.contains(QStringLiteral("temp.mdb")));
    ASSERT_EQ(asideFiles().size(), 1);
    EXPECT_EQ(kqm::test::FileBytes(dir.filePath(asideFiles().at(0))), QByteArray(4096, 'x'));
    EXPECT_TRUE(kqm::test::ReadProgramFile(files.workingCopy).isEmpty());

    // A missing working copy on recovery is simply made anew.
    QFile::remove(files.workingCopy);
    messages.clear();
    EXPECT_TRUE(start().ok);
    EXPECT_EQ(messages.boxes().size(), 1);
    EXPECT_TRUE(QFile::exists(files.workingCopy));
}

TEST_F(StartupTest, AWorkingCopyLeftMidWriteIsRecoveredNotMovedAside) {
    ASSERT_TRUE(start().ok);
    QVector<kqm::test::Line> lines(3000, kqm::test::Line{"W5"});
    kqm::test::WriteProgramFile(files.workingCopy, lines);
    // A run killed inside a write leaves the file with a hot journal: copy the
    // file and its journal while a transaction that spilled to disk is open.
    const QString elsewhere = dir.filePath(QStringLiteral("busy.mdb"));
    QFile::copy(files.workingCopy, elsewhere);
    {
        kqm::program::SqliteFile writer;
        ASSERT_TRUE(writer.open(elsewhere));
        ASSERT_TRUE(writer.exec(QStringLiteral("PRAGMA cache_size = 1")));
        ASSERT_TRUE(writer.exec(QStringLiteral("BEGIN")));
        ASSERT_TRUE(writer.exec(
            QStringLiteral("UPDATE Main SET Comment = 'half written, half written, half'")));
        ASSERT_TRUE(QFile::exists(elsewhere + QStringLiteral("-journal")));
        QFile::remove(files.workingCopy);
        ASSERT_TRUE(QFile::copy(elsewhere, files.workingCopy));
        ASSERT_TRUE(QFile::copy(elsewhere + QStringLiteral("-journal"),
                                files.workingCopy + QStringLiteral("-journal")));
        writer.exec(QStringLiteral("ROLLBACK"));
    }
    messages.clear();
    const LoadOutcome outcome = start();
    EXPECT_TRUE(outcome.recovered);
    EXPECT_EQ(messages.texts(), QStringList{RecoveryMessage});
    EXPECT_TRUE(asideFiles().isEmpty());
    const auto rows = kqm::test::ReadProgramFile(files.workingCopy);
    ASSERT_EQ(rows.size(), 3000);
    EXPECT_EQ(rows[0].comment, QStringLiteral(" ")); // the unfinished write is undone
    EXPECT_EQ(rows[2999].comment, QStringLiteral(" "));
}

TEST(MoveAsideTest, TakesTheJournalAlong) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("temp.mdb"));
    for (const QString& name : {file, file + QStringLiteral("-journal")}) {
        QFile f(name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
    }
    const QString aside = moveAside(file);
    ASSERT_FALSE(aside.isEmpty());
    EXPECT_FALSE(QFile::exists(file + QStringLiteral("-journal")));
    EXPECT_TRUE(QFile::exists(aside + QStringLiteral("-journal")));
}

} // namespace
