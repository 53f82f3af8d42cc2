#include "program/listing.h"
#include "program/sqlite_file.h"
#include "support/fake_messages.h"
#include "support/program_files.h"
#include "support/run_kqmctl.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using kqm::test::CliRun;

CliRun kqmctl(const QStringList& arguments) {
    return kqm::test::runKqmctl(arguments);
}

void writeText(const QString& path, const QByteArray& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

class KqmctlText : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString file(const char* name) { return dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir dir;
};

TEST_F(KqmctlText, ExportThenImportMakesTheSameProgram) {
    const QString original = file("original.mdb");
    kqm::test::WriteProgramFile(original,
                                {{"A10", "!", QStringLiteral("ramp; then \"fast\"\n\tdone é")},
                                 {QStringLiteral("N500\r@3G")},
                                 {"&3,1", "Loop 3 Times to Line 1"},
                                 {"I1,2,1", "!", " "},
                                 {"U0,3,5", "Stay here"},
                                 {"W10", "W10", " padded "},
                                 {"O1", "!", QStringLiteral("")},
                                 {"O2", "!", QStringLiteral("set below")},
                                 {"Q", "!", QString()}});
    {
        // What another program may store: a text that starts with U+FEFF
        // (handed to SQLite as UTF-16, that character would be taken for a
        // byte order mark, so it goes in as SQL).
        kqm::program::SqliteFile file;
        ASSERT_TRUE(file.open(original));
        QSqlQuery update(file.database());
        ASSERT_TRUE(update.exec(QStringLiteral(
            "UPDATE Main SET Comment = char(65279) || 'at the start' WHERE Command = 'O2'")));
    }
    ASSERT_EQ(kqm::test::ReadProgramFile(original).at(7).comment,
              QStringLiteral("\uFEFFat the start"));
    ASSERT_FALSE(kqm::test::ReadProgramFile(original).at(6).comment.isNull());
    const QByteArray before = kqm::test::FileBytes(original);

    const CliRun toScreen = kqmctl({QStringLiteral("export"), original});
    EXPECT_EQ(toScreen.status, 0) << toScreen.err.toStdString();
    const QString text = file("program.txt");
    const CliRun toFile = kqmctl({QStringLiteral("export"), original, QStringLiteral("-o"), text});
    EXPECT_EQ(toFile.status, 0) << toFile.err.toStdString();
    EXPECT_EQ(kqm::test::FileBytes(text), toScreen.out.toUtf8());
    EXPECT_TRUE(toScreen.out.startsWith(QStringLiteral("KQM program text 1\nA10 ; ramp\\; then")));
    EXPECT_EQ(kqm::test::FileBytes(original), before);

    const QString copy = file("copy.mdb");
    const CliRun imported = kqmctl({QStringLiteral("import"), text, QStringLiteral("-o"), copy});
    EXPECT_EQ(imported.status, 0) << imported.err.toStdString();
    EXPECT_EQ(imported.out,
              QStringLiteral("Imported 9 lines into %1\n").arg(QDir::toNativeSeparators(copy)));

    auto expected = kqm::test::ReadProgramFile(original);
    kqm::test::FakeMessages messages;
    kqm::program::computeListing(expected, messages);
    EXPECT_EQ(kqm::test::ReadProgramFile(copy), expected);
    // The same, to the character: an empty comment stays empty, not none.
    const auto copied = kqm::test::ReadProgramFile(copy);
    ASSERT_EQ(copied.size(), 9);
    EXPECT_FALSE(copied.at(6).comment.isNull());
    EXPECT_EQ(copied.at(7).comment, QStringLiteral("\uFEFFat the start"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 3); // no partial file left
}

// Nothing is written on a wrong line, and nothing existing is ever replaced.
// The example of the program text's documentation imports and checks clean.
TEST_F(KqmctlText, TheDocumentedExampleIsAGoodProgram) {
    QFile doc(QStringLiteral(KQM_LEGACY_FIXTURES "/../../../docs/program-text.md"));
    ASSERT_TRUE(doc.open(QIODevice::ReadOnly));
    const QByteArray text = doc.readAll();
    const qsizetype start = text.indexOf("```\n") + 4;
    writeText(file("example.txt"), text.mid(start, text.indexOf("```", start) - start));
    const CliRun imported = kqmctl(
        {QStringLiteral("import"), file("example.txt"), QStringLiteral("-o"), file("ex.mdb")});
    ASSERT_EQ(imported.status, 0) << imported.err.toStdString();
    const CliRun checked = kqmctl({QStringLiteral("check"), file("ex.mdb")});
    EXPECT_EQ(checked.status, 0) << checked.out.toStdString();
}

TEST_F(KqmctlText, RefusalsWriteNothing) {
    const QString text = file("wrong.txt");
    writeText(text, "KQM program text 1\r\n# set-up\r\nA300\r\nQ ; end \\x\r\nJ500\r\n");
    CliRun run = kqmctl({QStringLiteral("import"), text, QStringLiteral("-o"), file("new.mdb")});
    EXPECT_EQ(run.status, 1);
    const QString name = QDir::toNativeSeparators(text);
    EXPECT_EQ(run.err,
              name + QStringLiteral(":3: Accel/Decel must be 1 to 255 (A300)\n") + name +
                  QStringLiteral(":4: comment: unknown escape \\x (write a backslash as \\\\)\n") +
                  name + QStringLiteral(":5: unknown command (J500)\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("wrong.txt")});

    writeText(text, "KQM program text 1\nQ\n");
    const QString existing = file("existing.mdb");
    writeText(existing, "not to be touched");
    run = kqmctl({QStringLiteral("import"), text, QStringLiteral("-o"), existing});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("exists already"))) << run.err.toStdString();
    EXPECT_EQ(kqmctl({QStringLiteral("import"), text}).status, 2);
    run = kqmctl({QStringLiteral("export"), text}); // not a program file, said in words
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("is not a program file: it is not an SQLite "
                                                "database")))
        << run.err.toStdString();
    EXPECT_FALSE(run.err.contains(QStringLiteral("Unable to execute"))) << run.err.toStdString();
    EXPECT_EQ(kqmctl({QStringLiteral("export"), existing, QStringLiteral("-o"), existing}).status,
              2);
    EXPECT_EQ(kqm::test::FileBytes(existing), QByteArray("not to be touched"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);

    // Export never replaces another program file, nor anything that is no
    // program text; an earlier export it may.
    const QString program = file("program.mdb");
    const QString other = file("other.mdb");
    ASSERT_EQ(kqmctl({QStringLiteral("import"), text, QStringLiteral("-o"), program}).status, 0);
    ASSERT_EQ(kqmctl({QStringLiteral("import"), text, QStringLiteral("-o"), other}).status, 0);
    const QByteArray otherBytes = kqm::test::FileBytes(other);
    run = kqmctl({QStringLiteral("export"), program, QStringLiteral("-o"), other});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("is not a program text"))) << run.err.toStdString();
    EXPECT_EQ(kqm::test::FileBytes(other), otherBytes);
    EXPECT_EQ(kqmctl({QStringLiteral("export"), program, QStringLiteral("-o"), text}).status, 0);
    QFile::remove(program);
    QFile::remove(other);

    // An endless stream is read no further than any program could reach.
    run = kqmctl({QStringLiteral("import"), QStringLiteral("/dev/zero"), QStringLiteral("-o"),
                  file("zero.mdb")});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("more than 16 MB"))) << run.err.toStdString();
    EXPECT_FALSE(QFile::exists(file("zero.mdb")));
}

} // namespace
