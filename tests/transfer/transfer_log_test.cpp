#include "transfer/transfer_log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

using namespace kqm::transfer;

namespace {

TransferLogEntry entry(int axis, const QString& result, const QDateTime& time) {
    TransferLogEntry made = newLogEntry(QStringLiteral("send"));
    made.time = time;
    made.axis = axis;
    made.model = QStringLiteral("KQM20");
    made.revision = QStringLiteral("1.65");
    made.program = QStringLiteral("/machines/press/feeder \"A\".mdb");
    made.sha256 = sha256Of(QStringLiteral("@0A10\r@0Q\r"));
    made.pace = 0.01;
    made.result = result;
    return made;
}

// What is written comes back field for field, filtered by axis and time, and
// across the files that rotation leaves.
TEST(TransferLog, EntriesComeBackFilteredAndAcrossRotations) {
    QTemporaryDir dir;
    const QString path = transferLogPath(dir.path());
    const QDateTime start = QDateTime(QDate(2026, 12, 8), QTime(10, 0), QTimeZone::utc());
    QString error;
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(appendTransferLog(
            path, entry(i % 4, QStringLiteral("verified"), start.addSecs(60 * i)), &error, 2000))
            << error.toStdString();
    // A line cut short by a crash, then more entries: only the cut one is lost.
    QFile log(path);
    ASSERT_TRUE(log.open(QIODevice::Append));
    log.write("{\"time\": \"2026-12-08T10:");
    log.close();
    for (int i = 40; i < 42; ++i)
        ASSERT_TRUE(
            appendTransferLog(path, entry(i % 4, QStringLiteral("verified"), start.addSecs(60 * i)),
                              &error, 1 << 20));
    EXPECT_GT(QDir(dir.path()).entryList({"transfer-log-*.jsonl"}).size(), 3);

    const QList<TransferLogEntry> all = readTransferLog(path);
    ASSERT_EQ(all.size(), 42);
    const TransferLogEntry expected = entry(1, QStringLiteral("verified"), start.addSecs(60 * 41));
    EXPECT_EQ(all.last().toJson(), expected.toJson());
    for (qsizetype i = 1; i < all.size(); ++i)
        EXPECT_LT(all.at(i - 1).time, all.at(i).time);
    EXPECT_EQ(readTransferLog(path, {2, std::nullopt}).size(), 10);
    EXPECT_EQ(readTransferLog(path, {1, start.addSecs(60 * 20)}).size(), 6);
}

// The CSV keeps quotes, commas and line ends inside a field, and a field a
// spreadsheet would run as a formula is text.
TEST(TransferLog, CsvQuotesWhatItMustAndRunsNoFormula) {
    const QDateTime time = QDateTime(QDate(2026, 12, 8), QTime(10, 0), QTimeZone::utc());
    TransferLogEntry odd = entry(3, QStringLiteral("failed: no answer, twice"), time);
    odd.user = QStringLiteral("=HYPERLINK(\"x\")");
    odd.host = QStringLiteral("line\nbreak");
    const QStringList lines =
        transferLogCsv({entry(0, QStringLiteral("verified"), time), odd}).split("\r\n");
    ASSERT_EQ(lines.size(), 4); // header, two entries, and the end of the last
    EXPECT_TRUE(lines.at(0).startsWith("Time (UTC),Kind,Axis,"));
    EXPECT_TRUE(lines.at(1).startsWith("2026-12-08T10:00:00Z,send,0,KQM20,1.65,"));
    EXPECT_TRUE(lines.at(1).contains(",\"/machines/press/feeder \"\"A\"\".mdb\","));
    EXPECT_TRUE(lines.at(2).contains(",\"failed: no answer, twice\","));
    EXPECT_TRUE(lines.at(2).contains(",\"'=HYPERLINK(\"\"x\"\")\",\"line\nbreak\","));
    EXPECT_EQ(lines.at(3), "");
}

// The account is named as the system knows it, with no name in the
// environment or a wrong one.
TEST(TransferLog, NamesTheAccountWithoutTheEnvironment) {
    const passwd* account = getpwuid(geteuid());
    ASSERT_NE(account, nullptr);
    const QByteArray saved = qgetenv("USER"), savedLog = qgetenv("LOGNAME");
    qunsetenv("USER");
    qputenv("LOGNAME", "someone-else");
    const QString user = newLogEntry(QStringLiteral("send")).user;
    qputenv("USER", saved);
    qputenv("LOGNAME", savedLog);
    EXPECT_EQ(user, QString::fromLocal8Bit(account->pw_name));
}

// Two programs append at once (as the window and kqmctl may): every line
// arrives whole, none is lost, the rotations included.
TEST(TransferLog, TwoWritersAtOnceLoseNothing) {
    QTemporaryDir dir;
    const QString path = transferLogPath(dir.path());
    QList<QProcess*> writers;
    for (const char* name : {"A", "B"}) {
        auto* writer = new QProcess;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("KQM_LOG_CHILD", path);
        environment.insert("KQM_LOG_CHILD_NAME", name);
        writer->setProcessEnvironment(environment);
        writer->start(QCoreApplication::applicationFilePath(),
                      {"--gtest_filter=TransferLog.ChildAppends"});
        writers << writer;
    }
    for (QProcess* writer : writers) {
        EXPECT_TRUE(writer->waitForFinished(60000));
        EXPECT_EQ(writer->exitCode(), 0) << writer->readAllStandardOutput().toStdString();
        delete writer;
    }
    const QList<TransferLogEntry> all = readTransferLog(path);
    ASSERT_EQ(all.size(), 600);
    QMap<QString, QList<int>> seen;
    for (const TransferLogEntry& written : all)
        seen[written.user] << written.axis;
    for (const QString& name : {QStringLiteral("A"), QStringLiteral("B")}) {
        QList<int> numbers = seen.value(name);
        std::sort(numbers.begin(), numbers.end());
        ASSERT_EQ(numbers.size(), 300) << name.toStdString();
        for (int i = 0; i < 300; ++i)
            ASSERT_EQ(numbers.at(i), i);
    }
}

// The writer the test above starts: 300 long entries, rotating every 64 KB.
TEST(TransferLog, ChildAppends) {
    const QString path = qEnvironmentVariable("KQM_LOG_CHILD");
    if (path.isEmpty())
        GTEST_SKIP() << "runs as a child of TwoWritersAtOnceLoseNothing";
    for (int i = 0; i < 300; ++i) {
        TransferLogEntry written =
            entry(i, QStringLiteral("verified"), QDateTime::currentDateTimeUtc());
        written.user = qEnvironmentVariable("KQM_LOG_CHILD_NAME");
        written.program = QString(3000, QLatin1Char('x')); // lines longer than a pipe's atom
        QString error;
        ASSERT_TRUE(appendTransferLog(path, written, &error, 64 * 1024)) << error.toStdString();
    }
}

} // namespace
