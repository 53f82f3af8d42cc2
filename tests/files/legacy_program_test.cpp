#include "files/legacy_program.h"
#include "files/legacy_reader_protocol.h"
#include "files/new_program_file.h"
#include "files/startup.h"
#include "program/command_set.h"
#include "support/fake_messages.h"
#include "support/legacy_fixtures.h"
#include "support/program_files.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kqm::files;
using kqm::test::legacyFixture;

namespace {

// Every fixture with a table Main reads, field for field and record for
// record, as mdbtools' own mdb-export reads it; reading leaves it as it was.
TEST(LegacyProgram, EveryFixtureReadsAsMdbExportReadsIt) {
    for (const QString& name : kqm::test::GoodLegacyFixtures) {
        SCOPED_TRACE(name.toStdString());
        const QString path = legacyFixture(name);
        const QByteArray before = kqm::test::FileBytes(path);
        const LegacyProgram read = readLegacyProgram(path);
        ASSERT_TRUE(read.ok()) << read.error.toStdString();
        const QList<QStringList> exported = kqm::test::exportedByMdbTools(path);
        ASSERT_EQ(read.rows.size(), exported.size());
        for (qsizetype i = 0; i < exported.size(); ++i) {
            const kqm::program::ProgramRow& row = read.rows.at(i);
            ASSERT_EQ(exported.at(i).size(), 5) << "record " << i;
            EXPECT_EQ(QStringList({QString::number(row.lineNo), QString::number(row.address),
                                   row.command, row.listing, row.comment}),
                      exported.at(i))
                << "record " << i;
        }
        EXPECT_EQ(kqm::test::FileBytes(path), before);
    }
    // What both readers must agree on: the go move's carriage return, text
    // from the code page (Jet 3) and from UTF-16 (Jet 4).
    for (const char* name : {"jet3-program.mdb", "jet4-program.mdb"}) {
        const LegacyProgram read = readLegacyProgram(legacyFixture(QString::fromLatin1(name)));
        QStringList commands;
        QStringList comments;
        for (const kqm::program::ProgramRow& row : read.rows) {
            commands << row.command;
            comments << row.comment;
        }
        EXPECT_TRUE(commands.contains(QStringLiteral("N500\r@0G"))) << name;
        EXPECT_TRUE(commands.contains(QStringLiteral("&3_10"))) << name;
        EXPECT_TRUE(comments.contains(QStringLiteral("Zuführung"))) << name;
        EXPECT_TRUE(comments.contains(QStringLiteral("Ø 12 mm"))) << name;
    }
}

// Legacy files are told by their header, whatever their name; nothing else
// is taken for one.
TEST(LegacyProgram, TheHeaderTellsTheFormat) {
    const struct {
        const char* name;
        int version;
        bool password;
        bool encrypted;
    } cases[] = {{"jet3-program.mdb", 0, false, false},  {"jet4-program.mdb", 1, false, false},
                 {"jet3-password.mdb", 0, true, false},  {"jet4-password.mdb", 1, true, false},
                 {"jet4-encrypted.mdb", 1, false, true}, {"access2007.accdb", 2, false, false}};
    for (const auto& c : cases) {
        const auto format = legacyFormatOf(legacyFixture(QString::fromLatin1(c.name)));
        ASSERT_TRUE(format.has_value()) << c.name;
        EXPECT_EQ(format->version, c.version) << c.name;
        EXPECT_EQ(format->password, c.password) << c.name;
        EXPECT_EQ(format->encrypted, c.encrypted) << c.name;
    }
    QTemporaryDir dir;
    const QString renamed = dir.filePath(QStringLiteral("program.txt"));
    ASSERT_TRUE(QFile::copy(legacyFixture(QStringLiteral("jet3-program.mdb")), renamed));
    EXPECT_TRUE(legacyFormatOf(renamed).has_value());
    const QString sqlite = dir.filePath(QStringLiteral("new.mdb"));
    kqm::test::WriteProgramFile(sqlite, {{"Q"}});
    QFile text(dir.filePath(QStringLiteral("t.mdb")));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write(QByteArray("\x00\x01\x00\x00Standard Jet DB", 19)); // a header cut short
    text.close();
    for (const QString& other : {sqlite, text.fileName(), dir.filePath(QStringLiteral("none"))})
        EXPECT_FALSE(legacyFormatOf(other).has_value()) << other.toStdString();
}

// A bad file is refused with its reason and left as it was.
TEST(LegacyProgram, BadFilesAreRefusedWithTheirReason) {
    for (const auto& [name, reason] : kqm::test::BadLegacyFixtures) {
        const QString path = legacyFixture(name);
        const QByteArray before = kqm::test::FileBytes(path);
        const LegacyProgram read = readLegacyProgram(path);
        EXPECT_FALSE(read.ok()) << name.toStdString();
        EXPECT_TRUE(read.error.contains(reason)) << read.error.toStdString();
        EXPECT_TRUE(read.rows.isEmpty()) << name.toStdString();
        EXPECT_EQ(kqm::test::FileBytes(path), before) << name.toStdString();
    }
}

// Copies of the fixtures made wrong in ways a real file gets wrong: cut at a
// page boundary (libmdb reads the missing pages as zeros), and a Jet 3 file
// whose header names another code page, whose text must be read in it.
TEST(LegacyProgram, CopiesCutAtAPageOrInAnotherCodePage) {
    QTemporaryDir dir;
    const auto patched = [&dir](const char* fixture, const char* name, auto change) {
        QByteArray bytes = kqm::test::FileBytes(legacyFixture(QString::fromLatin1(fixture)));
        change(bytes);
        const QString path = dir.filePath(QString::fromLatin1(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    };
    for (const qsizetype pages : {5, 10}) {
        const QString cut = patched("jet4-1000-lines.mdb", "cut.mdb",
                                    [pages](QByteArray& bytes) { bytes.truncate(pages * 4096); });
        const LegacyProgram read = readLegacyProgram(cut);
        EXPECT_FALSE(read.ok()) << pages << " pages";
        EXPECT_TRUE(read.error.contains(QStringLiteral("truncated"))) << read.error.toStdString();
        EXPECT_TRUE(read.rows.isEmpty());
        QFile::remove(cut);
    }
    // The code page sits in the masked header: 1252 (0x04E4) becomes 1251
    // (0x04E3) by flipping the same bits of the masked byte.
    const QString cyrillic = patched("jet3-program.mdb", "cp1251.mdb", [](QByteArray& bytes) {
        bytes[0x3C] = static_cast<char>(bytes.at(0x3C) ^ 0x07);
    });
    ASSERT_EQ(legacyFormatOf(cyrillic)->codePage, 1251);
    const LegacyProgram read = readLegacyProgram(cyrillic);
    ASSERT_TRUE(read.ok()) << read.error.toStdString();
    QStringList comments;
    for (const kqm::program::ProgramRow& row : read.rows)
        comments << row.comment;
    EXPECT_TRUE(comments.contains(QStringLiteral("Zufьhrung"))) << comments.join('|').toStdString();
}

// One changed byte can crash libmdb, or make it return records that are not
// the file's while it only complains on standard error; and a file cut
// inside a page, padded back to whole pages, reads as records of nothing.
// Each is damaged: said so, nothing read, the file left as it was.
TEST(LegacyProgram, DamagedCopiesAreRefusedWhateverLibmdbMakesOfThem) {
    QTemporaryDir dir;
    QStringList damaged;
    for (const auto& copy : kqm::test::DamagedLegacyCopies)
        damaged << kqm::test::writeDamagedCopy(dir.path(), copy);
    QByteArray padded = kqm::test::FileBytes(legacyFixture(QStringLiteral("jet4-truncated.mdb")));
    padded.append(4096 - padded.size() % 4096, '\0');
    damaged << dir.filePath(QStringLiteral("padded.mdb"));
    QFile file(damaged.last());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(padded);
    file.close();
    for (const QString& path : damaged) {
        SCOPED_TRACE(path.toStdString());
        const QByteArray before = kqm::test::FileBytes(path);
        const LegacyProgram read = readLegacyProgram(path);
        EXPECT_FALSE(read.ok());
        EXPECT_TRUE(read.rows.isEmpty());
        EXPECT_TRUE(read.error.startsWith(QDir::toNativeSeparators(path) +
                                          QStringLiteral(" is damaged and could not be read")))
            << read.error.toStdString();
        EXPECT_TRUE(read.error.endsWith(QStringLiteral("nothing was written")))
            << read.error.toStdString();
        EXPECT_EQ(kqm::test::FileBytes(path), before);
    }
}

// Random one-byte mutants of a long file, a new seed each run: a file read
// is read whole, every line with its command; any other is refused.
TEST(LegacyProgram, RandomOneByteMutantsNeverLoseACommand) {
    const quint32 seed = QRandomGenerator::global()->generate();
    SCOPED_TRACE(seed);
    std::printf("seed %u\n", seed);
    QRandomGenerator random(seed);
    QTemporaryDir dir;
    const QByteArray original =
        kqm::test::FileBytes(legacyFixture(QStringLiteral("jet4-1000-lines.mdb")));
    for (int mutant = 0; mutant < 24; ++mutant) {
        QByteArray bytes = original;
        const qsizetype at = random.bounded(static_cast<int>(bytes.size()));
        bytes[at] = static_cast<char>(random.bounded(256));
        SCOPED_TRACE(at);
        const QString path = dir.filePath(QStringLiteral("mutant-%1.mdb").arg(mutant));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        const LegacyProgram read = readLegacyProgram(path);
        if (!read.ok()) {
            EXPECT_TRUE(read.rows.isEmpty());
            continue;
        }
        for (qsizetype i = 0; i < read.rows.size(); ++i)
            EXPECT_FALSE(read.rows.at(i).command.trimmed().isEmpty()) << "line " << i + 1;
    }
}

QByteArray item(char tag, const QByteArray& payload = {}) {
    QByteArray bytes(1, tag);
    for (int i = 0; i < 4; ++i)
        bytes.append(static_cast<char>((payload.size() >> (8 * i)) & 0xFF));
    return bytes + payload;
}

// A record of five fields, each stored in `stored` bytes (the command in
// `commandStored`, unless that is negative) and read as text.
QByteArray record(int stored, const QByteArray& command, int commandStored = -1) {
    QByteArray fields = item('R');
    int field = 0;
    for (const QByteArray& text :
         {QByteArray("1"), QByteArray("0"), command, QByteArray("!"), QByteArray("c")}) {
        const int bytes = field++ == 2 && commandStored >= 0 ? commandStored : stored;
        fields += item('V', QByteArray(1, static_cast<char>(bytes)) + QByteArray(3, '\0') + text);
    }
    return fields;
}

// The reader's answer makes a program only when it is whole and every field
// that holds something was read.
TEST(LegacyProgram, OnlyAWholeAnswerOfTheReaderIsAProgram) {
    const QByteArray hello = item('H', QByteArray(kqm::files::reader::Hello));
    const QByteArray whole = hello + record(6, "A10") + item('E', "1");
    const struct {
        const char* name;
        QByteArray answer;
        const char* error; // a word of it; none: read
    } cases[] = {
        {"whole", whole, nullptr},
        {"cut inside an item", whole.chopped(2), "damaged"},
        {"no end", whole.chopped(item('E', "1").size()), "damaged"},
        {"a record of four fields", hello + record(6, "A10").chopped(10) + item('E', "1"),
         "record 1 was cut short"},
        {"a command stored but read as nothing", hello + record(6, "") + item('E', "1"),
         "field 3 of record 1 could not be read"},
        {"a record of nothing", hello + record(0, "") + item('E', "1"), "record 1 is empty"},
        {"a line whose command came out as nothing", hello + record(6, "", 0) + item('E', "1"),
         "record 1 (line 1) has no command"},
        {"fewer records than the table holds", hello + record(6, "A10") + item('E', "2"),
         "truncated"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const LegacyProgram read =
            legacyProgramFromReader(QStringLiteral("p.mdb"), LegacyFormat{}, c.answer);
        if (!c.error) {
            ASSERT_TRUE(read.ok()) << read.error.toStdString();
            ASSERT_EQ(read.rows.size(), 1);
            EXPECT_EQ(read.rows.at(0).command, QStringLiteral("A10"));
            continue;
        }
        EXPECT_TRUE(read.rows.isEmpty());
        EXPECT_TRUE(read.error.contains(QLatin1String(c.error))) << read.error.toStdString();
    }
}

// A reader that hangs is stopped at the time-out; one that crashes reads
// nothing. Neither's standard error is shown.
TEST(LegacyProgram, AReaderThatHangsOrCrashesReadsNothing) {
    QTemporaryDir dir;
    const struct {
        const char* script;
        const char* error;
    } cases[] = {{"echo 'mdb_read_table: Page 4' >&2; exec sleep 30", "longer than 5 seconds"},
                 {"echo 'mdb_read_table: Page 4' >&2; kill -SEGV $$", "stopped with a crash"}};
    const QString reader = dir.filePath(QStringLiteral("reader"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        QFile::remove(reader);
        QFile file(reader);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("#!/bin/sh\n") + c.script + "\n");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        setLegacyReaderProgram(reader);
        QElapsedTimer took;
        took.start();
        const LegacyProgram read =
            readLegacyProgram(legacyFixture(QStringLiteral("jet4-program.mdb")));
        EXPECT_LT(took.elapsed(), LegacyReadTimeMs + 2000);
        EXPECT_TRUE(read.rows.isEmpty());
        EXPECT_TRUE(read.error.contains(QLatin1String(c.error))) << read.error.toStdString();
        EXPECT_FALSE(read.error.contains(QLatin1String("mdb_read_table")));
    }
    setLegacyReaderProgram(QStringLiteral(KQM_LEGACY_READER_PATH));
}

// A later Access file that libmdb cannot read is said to be unsupported.
TEST(LegacyProgram, AnAccessFileLibmdbCannotReadIsUnsupported) {
    QTemporaryDir dir;
    const QString later = dir.filePath(QStringLiteral("later.accdb"));
    QByteArray bytes = kqm::test::FileBytes(legacyFixture(QStringLiteral("access2007.accdb")));
    bytes[0x14] = 9; // a version libmdb does not know
    QFile file(later);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    const LegacyProgram read = readLegacyProgram(later);
    EXPECT_FALSE(read.ok());
    EXPECT_TRUE(read.error.contains(QStringLiteral("not supported"))) << read.error.toStdString();
    EXPECT_TRUE(read.error.contains(QStringLiteral("Access 2000 database")))
        << read.error.toStdString();
}

// A thousand lines convert within a second into a refreshed program file;
// an existing file is never replaced.
TEST(LegacyProgram, AThousandLinesConvertWithinASecond) {
    QTemporaryDir dir;
    const auto files = ProgramDirectoryFiles::in(dir.path());
    const QString target = dir.filePath(QStringLiteral("converted.mdb"));
    kqm::test::FakeMessages messages;
    QElapsedTimer took;
    took.start();
    const LegacyProgram read =
        readLegacyProgram(legacyFixture(QStringLiteral("jet4-1000-lines.mdb")));
    ASSERT_TRUE(read.ok()) << read.error.toStdString();
    const NewProgramFile made =
        writeNewProgramFile(files, target, rowsForConversion(read.rows), messages);
    ASSERT_TRUE(made.ok()) << made.error.toStdString();
#ifdef KQM_SANITIZED
    EXPECT_LT(took.elapsed(), 5000);
#else
    EXPECT_LT(took.elapsed(), 1000);
#endif
    const auto rows = kqm::test::ReadProgramFile(target);
    ASSERT_EQ(rows.size(), 1000);
    qint64 address = 0;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows.at(i).lineNo, i + 1);
        EXPECT_EQ(rows.at(i).command, read.rows.at(i).command);
        EXPECT_EQ(rows.at(i).comment, read.rows.at(i).comment);
        if (const auto size = kqm::program::knownCommandSize(rows.at(i).command)) {
            EXPECT_NE(rows.at(i).listing, QStringLiteral("!"));
            EXPECT_EQ(rows.at(i).address, address);
            address += *size;
        } else {
            EXPECT_EQ(rows.at(i).address, address);
        }
    }
    EXPECT_EQ(convertedName(dir.filePath(QStringLiteral("converted"))),
              dir.filePath(QStringLiteral("converted-converted.mdb")));
    const QString taken = dir.filePath(QStringLiteral("old-converted.mdb"));
    QFile(taken).open(QIODevice::WriteOnly);
    EXPECT_EQ(convertedName(dir.filePath(QStringLiteral("old.MDB"))),
              dir.filePath(QStringLiteral("old-converted-2.mdb")));
    const QByteArray converted = kqm::test::FileBytes(target);
    const NewProgramFile again = writeNewProgramFile(files, target, read.rows, messages);
    EXPECT_EQ(again.failure, NewProgramFile::Failure::Exists);
    EXPECT_EQ(kqm::test::FileBytes(target), converted);
}

} // namespace
