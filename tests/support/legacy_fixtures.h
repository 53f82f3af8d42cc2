#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace kqm::test {

// The Access program files that tests/files/legacy/make_jet_fixtures.py writes.
inline QString legacyFixture(const QString& name) {
    return QStringLiteral(KQM_LEGACY_FIXTURES "/") + name;
}

// Fixtures that hold a table Main to read, and the bad ones with a word of
// the reason each must give.
inline const QStringList GoodLegacyFixtures = {
    QStringLiteral("jet3-program.mdb"),    QStringLiteral("jet4-program.mdb"),
    QStringLiteral("jet3-empty.mdb"),      QStringLiteral("jet4-empty.mdb"),
    QStringLiteral("jet4-1000-lines.mdb"), QStringLiteral("access2007.accdb")};
inline const QList<std::pair<QString, QString>> BadLegacyFixtures = {
    {QStringLiteral("jet4-no-main.mdb"), QStringLiteral("has no table Main")},
    {QStringLiteral("jet3-four-fields.mdb"), QStringLiteral("has 4 fields")},
    {QStringLiteral("jet3-password.mdb"), QStringLiteral("password")},
    {QStringLiteral("jet4-password.mdb"), QStringLiteral("password")},
    {QStringLiteral("jet4-encrypted.mdb"), QStringLiteral("encrypted")},
    {QStringLiteral("jet4-truncated.mdb"), QStringLiteral("truncated")},
    {QStringLiteral("jet3-damaged.mdb"), QStringLiteral("damaged")}};

// Fixtures with one byte changed, as a disk or a copy damages a file; each is
// read by libmdb wrongly, and must be found damaged.
struct DamagedLegacyCopy {
    const char* fixture;
    qsizetype offset;
    char value;
    const char* what; // what libmdb does with it
};
inline const DamagedLegacyCopy DamagedLegacyCopies[] = {
    {"jet4-program.mdb", 8247, '\x80', "a usage-map pointer: libmdb crashes"},
    {"jet4-program.mdb", 8103, '\xD0', "a data page beyond the end: libmdb still gives 22 rows"},
    {"jet3-program.mdb", 8271, '\x3A', "Command's type: every command comes out empty"},
    {"jet3-program.mdb", 8235, '\xCB', "LineNo's type: every line number comes out empty"},
};

// Writes the damaged copy into folder, named after what was changed.
inline QString writeDamagedCopy(const QString& folder, const DamagedLegacyCopy& copy) {
    QFile fixture(legacyFixture(QString::fromLatin1(copy.fixture)));
    EXPECT_TRUE(fixture.open(QIODevice::ReadOnly));
    QByteArray bytes = fixture.readAll();
    bytes[copy.offset] = copy.value;
    const QString path = QDir(folder).filePath(
        QStringLiteral("%1-%2.mdb").arg(QString::fromLatin1(copy.fixture)).arg(copy.offset));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

// The table Main as mdbtools' own mdb-export reads it: one list of five
// texts per record, in stored order. Its CSV quotes text in "..." with ""
// for a quote inside; line ends inside quotes belong to the text.
inline QList<QStringList> exportedByMdbTools(const QString& path) {
    QProcess process;
    process.start(QStringLiteral("mdb-export"), {path, QStringLiteral("Main")});
    EXPECT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    const QString csv = QString::fromUtf8(process.readAllStandardOutput());
    QList<QStringList> records;
    QStringList record;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < csv.size(); ++i) {
        const QChar c = csv.at(i);
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < csv.size() && csv.at(i + 1) == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            record << field;
            field.clear();
        } else if (c == QLatin1Char('\n')) {
            record << field;
            field.clear();
            records << record;
            record.clear();
        } else {
            field += c;
        }
    }
    if (!records.isEmpty())
        records.removeFirst(); // the field names
    return records;
}

} // namespace kqm::test
