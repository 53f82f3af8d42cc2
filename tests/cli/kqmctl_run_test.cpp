#include "support/program_files.h"
#include "support/run_kqmctl.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using kqm::test::runKqmctl;

namespace {

// Through the program: each way a run ends, its exit status and the JSON
// report's fields.
TEST(KqmctlRun, ReportsHowEachRunEnds) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const struct {
        const char* name;
        QVector<kqm::test::Line> lines;
        QStringList options;
        int status;
        QJsonObject expected; // the fields that must have these values
    } cases[] = {
        {"moves and a loop",
         {{"N100\r@0G"}, {"O1"}, {"&0_2"}, {"F"}, {"Q"}},
         {},
         0,
         {{"end", "quit"},
          {"line", 5},
          {"position", 300},
          {"max_position", 300},
          {"outputs", 1},
          {"lines_executed", 11},
          {"seconds_estimated", true}}},
        {"waits for a scheduled input",
         {{"U0,1,1"}, {"W250"}, {"Q"}},
         {"--inputs", "0:0,1.5:1"},
         0,
         {{"end", "quit"}, {"seconds", 1.75}, {"seconds_estimated", false}}},
        {"an endless loop at a short limit",
         {{"W250"}, {"-"}, {"N5\r@0G"}, {"X0"}},
         {"--limit", "2"},
         1,
         {{"end", "limit"}, {"seconds", 2}, {"min_position", -40}}},
        {"a line that is not simulated",
         {{"A10"}, {"I1,2,1"}, {"Q"}},
         {},
         3,
         {{"end", "not simulated"}, {"line", 2}}},
        // A "~" left by the window at a line's start is read as the window
        // reads it: the loop's address 0 is the first line.
        {"a marked line", {{"~N10\r@0G"}, {"&0_2"}, {"F"}, {"Q"}}, {}, 0, {{"position", 30}}},
        {"ten waits of 100 ms are a second, where the input comes",
         {{"W100"}, {"&0_9"}, {"?1"}, {"O3"}, {"Q"}},
         {"--inputs", "0:0,1:1"},
         0,
         {{"seconds", 1}, {"outputs", 3}}},
        {"waits add up to what they say", {{"W100"}, {"W200"}, {"Q"}}, {}, 0, {{"seconds", 0.3}}},
        {"the travel counts the run-out after Quit",
         {{"-"}, {"N1000\r@0G"}, {"Q"}},
         {},
         0,
         {{"position", -1000}, {"min_position", -1000}, {"max_position", 0}}},
        {"a loop where no time passes stops at its moment",
         {{"O1"}, {"X0"}},
         {},
         1,
         {{"end", "limit"}, {"seconds", 0}}},
        {"more lines at one moment than a program runs",
         {{"O1"}, {"&0_255"}, {"&0_255"}, {"&0_255"}, {"Q"}},
         {},
         1,
         {{"end", "too many lines"}, {"seconds", 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromLatin1(c.name) + ".mdb");
        kqm::test::WriteProgramFile(path, c.lines);
        const auto run = runKqmctl(QStringList{"run", path, "--json"} + c.options);
        EXPECT_EQ(run.status, c.status) << run.err.toStdString();
        const QJsonObject report = QJsonDocument::fromJson(run.out.toUtf8()).object();
        for (auto field = c.expected.begin(); field != c.expected.end(); ++field)
            EXPECT_EQ(report.value(field.key()), field.value()) << field.key().toStdString();
        EXPECT_FALSE(report.value("assumptions").toArray().isEmpty());
    }
}

// The trace has a row per executed line; the plot is an SVG; the program
// file is never written over, and wrong arguments are named.
TEST(KqmctlRun, WritesTheTraceAndThePlotBesideTheProgram) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString program = dir.filePath("p.mdb");
    kqm::test::WriteProgramFile(program, {{"O2"}, {"N50\r@0G"}, {"W10"}, {"Q"}});
    const QByteArray before = kqm::test::FileBytes(program);
    const auto run = runKqmctl(
        {"run", program, "--trace", dir.filePath("t.csv"), "--plot", dir.filePath("p.svg")});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith("end: quit at line 4\n")) << run.out.toStdString();
    QFile trace(dir.filePath("t.csv"));
    ASSERT_TRUE(trace.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(trace.readAll()), "time,line,command,position,outputs\n"
                                                  "0.0000,1,O2,0,0\n"
                                                  "0.0000,2,N50\\r@0G,0,2\n"
                                                  "0.0000,3,W10,0,2\n"
                                                  "0.0100,4,Q,5,2\n");
    QFile plot(dir.filePath("p.svg"));
    ASSERT_TRUE(plot.open(QIODevice::ReadOnly));
    EXPECT_TRUE(plot.readAll().contains("<path d=\"M"));

    const struct {
        QStringList arguments;
        int status;
        const char* says;
    } refusals[] = {
        {{"run", program, "--trace", program}, 1, "is the program file"},
        {{"run", program, "--inputs", "1:16"}, 2, "--inputs: inputs are given as TIME:PATTERN"},
        {{"run", program, "--limit", "0"}, 2, "--limit takes a number above 0"},
        {{"run"}, 2, "a PROGRAM file is required"},
        {{"run", dir.filePath("none.mdb")}, 2, "none.mdb"},
    };
    for (const auto& refusal : refusals) {
        const auto refused = runKqmctl(refusal.arguments);
        EXPECT_EQ(refused.status, refusal.status) << refusal.says;
        EXPECT_TRUE(refused.err.contains(QString::fromLatin1(refusal.says)))
            << refused.err.toStdString();
    }
    EXPECT_EQ(kqm::test::FileBytes(program), before);
}

} // namespace
