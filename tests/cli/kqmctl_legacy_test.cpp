#include "support/legacy_fixtures.h"
#include "support/program_files.h"
#include "support/run_kqmctl.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using kqm::test::legacyFixture;
using kqm::test::runKqmctl;

QJsonArray listedLines(const QString& path) {
    const kqm::test::CliRun run =
        runKqmctl({QStringLiteral("list"), QStringLiteral("--json"), path});
    EXPECT_TRUE(run.status == 0 || run.status == 3) << run.err.toStdString();
    return QJsonDocument::fromJson(run.out.toUtf8())
        .object()
        .value(QStringLiteral("lines"))
        .toArray();
}

// kqmctl list reads every fixture as mdb-export does (the line numbers,
// addresses and pending texts are the listing's own); kqmctl convert makes a
// program file of it that lists alike, leaves the fixture as it was, and never
// replaces a file.
TEST(KqmctlLegacy, ListAndConvertReadEveryFixtureAsMdbExportDoes) {
    QTemporaryDir dir;
    for (const QString& name : kqm::test::GoodLegacyFixtures) {
        SCOPED_TRACE(name.toStdString());
        const QString path = legacyFixture(name);
        const QByteArray before = kqm::test::FileBytes(path);
        const QList<QStringList> exported = kqm::test::exportedByMdbTools(path);
        const QJsonArray listed = listedLines(path);
        ASSERT_EQ(listed.size(), exported.size());
        for (qsizetype i = 0; i < exported.size(); ++i) {
            const QJsonObject line = listed.at(i).toObject();
            EXPECT_EQ(line.value(QStringLiteral("command")).toString(), exported.at(i).at(2));
            EXPECT_EQ(line.value(QStringLiteral("comment")).toString(), exported.at(i).at(4));
            if (exported.at(i).at(3) != QLatin1String("!")) {
                EXPECT_EQ(line.value(QStringLiteral("listing")).toString(), exported.at(i).at(3));
            }
        }

        const QString converted = dir.filePath(name + QStringLiteral(".converted.mdb"));
        const kqm::test::CliRun convert = runKqmctl({QStringLiteral("convert"), path, converted});
        EXPECT_EQ(convert.status, 0) << convert.err.toStdString();
        const QJsonArray again = listedLines(converted);
        ASSERT_EQ(again.size(), listed.size());
        for (qsizetype i = 0; i < listed.size(); ++i) {
            for (const char* field : {"line", "address", "command", "comment"})
                EXPECT_EQ(again.at(i).toObject().value(QLatin1String(field)),
                          listed.at(i).toObject().value(QLatin1String(field)))
                    << field << " of line " << i + 1;
        }
        const QByteArray made = kqm::test::FileBytes(converted);
        const kqm::test::CliRun twice = runKqmctl({QStringLiteral("convert"), path, converted});
        EXPECT_EQ(twice.status, 2);
        EXPECT_TRUE(twice.err.contains(QStringLiteral("exists already")))
            << twice.err.toStdString();
        EXPECT_EQ(kqm::test::FileBytes(converted), made);
        EXPECT_EQ(kqm::test::FileBytes(path), before);
    }
}

// A damaged file, even one that crashes libmdb: kqmctl says it is damaged,
// exits 2 and writes nothing, and none of libmdb's own lines reach the
// terminal.
TEST(KqmctlLegacy, DamagedCopiesAreRefusedAndLibmdbIsNeverHeard) {
    QTemporaryDir dir;
    for (const auto& copy : kqm::test::DamagedLegacyCopies) {
        SCOPED_TRACE(copy.what);
        const QString path = kqm::test::writeDamagedCopy(dir.path(), copy);
        const QString target = dir.filePath(QStringLiteral("new.mdb"));
        for (const QStringList& arguments :
             {QStringList{QStringLiteral("list"), path},
              QStringList{QStringLiteral("convert"), path, target}}) {
            const kqm::test::CliRun run = runKqmctl(arguments);
            EXPECT_EQ(run.status, 2) << arguments.first().toStdString();
            EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
            EXPECT_TRUE(run.err.startsWith(QStringLiteral("kqmctl: ") +
                                           QDir::toNativeSeparators(path) +
                                           QStringLiteral(" is damaged and could not be read")))
                << run.err.toStdString();
            EXPECT_TRUE(run.err.contains(QStringLiteral("nothing was written")));
            EXPECT_EQ(run.err.count(QLatin1Char('\n')), 1) << run.err.toStdString();
            EXPECT_FALSE(QFile::exists(target));
        }
    }
}

// Each bad file: its reason on standard error, exit status 2, nothing written.
TEST(KqmctlLegacy, BadFilesAreRefusedAndNothingIsWritten) {
    QTemporaryDir dir;
    QList<std::pair<QString, QString>> cases = kqm::test::BadLegacyFixtures;
    for (const auto& [name, reason] : cases) {
        SCOPED_TRACE(name.toStdString());
        const QString path = legacyFixture(name);
        const QByteArray before = kqm::test::FileBytes(path);
        const kqm::test::CliRun list = runKqmctl({QStringLiteral("list"), path});
        EXPECT_EQ(list.status, 2);
        EXPECT_TRUE(list.err.contains(reason)) << list.err.toStdString();
        const QString target = dir.filePath(name + QStringLiteral(".new.mdb"));
        const kqm::test::CliRun convert = runKqmctl({QStringLiteral("convert"), path, target});
        EXPECT_EQ(convert.status, 2);
        EXPECT_TRUE(convert.err.contains(reason)) << convert.err.toStdString();
        EXPECT_FALSE(QFile::exists(target));
        EXPECT_EQ(kqm::test::FileBytes(path), before);
    }
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
    const kqm::test::CliRun notLegacy =
        runKqmctl({QStringLiteral("convert"), dir.filePath(QStringLiteral("none.mdb")),
                   dir.filePath(QStringLiteral("x.mdb"))});
    EXPECT_EQ(notLegacy.status, 2);
    const kqm::test::CliRun usage = runKqmctl({QStringLiteral("convert"), QStringLiteral("a")});
    EXPECT_EQ(usage.status, 2);
    EXPECT_TRUE(usage.err.contains(QStringLiteral("usage: kqmctl convert")))
        << usage.err.toStdString();
}

// The commands that change a program file or read its history name an Access
// file as one, and the command that converts it; the file stays as it was.
TEST(KqmctlLegacy, CommandsThatChangeAFileNameAnAccessFileAndConvert) {
    const QString path = legacyFixture(QStringLiteral("jet4-program.mdb"));
    const QByteArray before = kqm::test::FileBytes(path);
    const QList<QStringList> commands = {
        {"edit", path, "add", "quit"}, {"undo", path}, {"redo", path}, {"history", path}};
    for (const QStringList& command : commands) {
        SCOPED_TRACE(command.first().toStdString());
        const kqm::test::CliRun run = runKqmctl(command);
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.err.contains(QStringLiteral("is an Access 2000 (Jet 4) file")))
            << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("kqmctl convert ")));
        EXPECT_FALSE(run.err.contains(QStringLiteral("not a database")));
    }
    EXPECT_EQ(kqm::test::FileBytes(path), before);
}

} // namespace
