#include "support/program_files.h"
#include "support/pty_unit.h"
#include "support/run_kqmctl.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>

using kqm::test::runKqmctl;

namespace {

QJsonObject jsonOf(const QString& text) {
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

qint64 positionOf(const QString& readout) {
    for (const QString& line : readout.split('\n'))
        if (line.startsWith(QLatin1String("Position: ")))
            return line.mid(10).toLongLong();
    return -1;
}

// Over a real pseudo-terminal, each character taking its time at 9600 baud:
// a unit that holds another program runs nothing; one whose motor
// accelerates at 400 steps/s² a unit of A, where the model takes 1000, is
// found slower and fitted; a trace stopped with Ctrl+C in a move stops the
// unit and leaves the line to the next command.
TEST(KqmctlTrace, AgainstASimulatedUnitOnAPseudoTerminal) {
    QTemporaryDir dir;
    kqm::test::PtyUnit unit(QStringLiteral(KQMCTL_PATH), {"--wire", "--accel-unit", "400"});
    ASSERT_FALSE(unit.device().isEmpty());
    const QString program = dir.filePath(QStringLiteral("moves.mdb"));
    // Two moves, a wait after each: the loop at line 7 goes back to line 4
    // (address 11) once.
    kqm::test::WriteProgramFile(
        program, {{"A10"}, {"B300"}, {"M3000"}, {"N1500\r@0G"}, {"F"}, {"W300"}, {"&11_1"}, {"Q"}});
    const QStringList port{"--port", unit.device()};

    auto run = runKqmctl(QStringList{"trace", program} + port);
    EXPECT_EQ(run.status, 4) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("the unit holds no program: send")) << run.err.toStdString();

    ASSERT_EQ(runKqmctl(QStringList{"send", program, "--quiet", "--pace", "0.01"} + port).status, 0);
    // With the motor's own acceleration unit, the model and the unit agree
    // within one reading's interval.
    run = runKqmctl(QStringList{"trace", program, "--json", "--accel-unit", "400"} + port);
    ASSERT_EQ(run.status, 0) << run.err.toStdString() << run.out.toStdString();
    QJsonObject report = jsonOf(run.out);
    const double interval = 1 / report.value("rate_hz").toDouble();
    EXPECT_NEAR(report.value("measured_seconds").toDouble(),
                report.value("predicted_seconds").toDouble(), interval);
    EXPECT_EQ(report.value("final_position").toInteger(), 3000);
    EXPECT_EQ(report.value("predicted_final_position").toInteger(), 3000);
    const QJsonArray plateaus = report.value("plateaus").toArray();
    ASSERT_EQ(plateaus.size(), 2) << run.out.toStdString();
    for (const QJsonValue plateau : plateaus) {
        EXPECT_NEAR(plateau["measured_seconds"].toDouble(), plateau["predicted_seconds"].toDouble(),
                    interval);
        EXPECT_EQ(plateau["measured_position"].toInteger(), plateau["predicted_position"].toInteger());
    }
    EXPECT_EQ(report.value("findings").toArray().size(), 1);
    EXPECT_TRUE(report.value("findings")[0].toString().startsWith("the unit ran as the model"))
        << run.out.toStdString();
    EXPECT_LE(std::abs(report.value("largest_difference")["steps"].toInteger()),
              static_cast<qint64>(3000 * interval) + 2);

    // With the model's own 1000, the unit is found slower, and fitted.
    const QString csv = dir.filePath(QStringLiteral("readings.csv"));
    const QString svg = dir.filePath(QStringLiteral("trace.svg"));
    run = runKqmctl(QStringList{"trace", program, "--json", "--fit", "--csv", csv, "--plot", svg} +
                    port);
    ASSERT_EQ(run.status, 0) << run.err.toStdString() << run.out.toStdString();
    report = jsonOf(run.out);
    EXPECT_EQ(report.value("end").toString(), QStringLiteral("standstill"));
    EXPECT_EQ(report.value("final_position").toInteger(), 6000);
    EXPECT_EQ(report.value("predicted_final_position").toInteger(), 6000);
    EXPECT_GT(report.value("measured_seconds").toDouble(), report.value("predicted_seconds").toDouble());
    EXPECT_TRUE(report.value("findings").toArray().first().toString().contains("longer than the model"))
        << run.out.toStdString();
    EXPECT_NEAR(report.value("fitted_accel_unit").toDouble(), 400, 20) << run.out.toStdString();
    // Three queries a round at 9600 baud, each character on the wire.
    EXPECT_GT(report.value("rate_hz").toDouble(), 20) << run.out.toStdString();
    EXPECT_LT(report.value("rate_hz").toDouble(), 60) << run.out.toStdString();
    QFile readings(csv);
    ASSERT_TRUE(readings.open(QIODevice::ReadOnly));
    EXPECT_EQ(readings.readAll().count('\n'), report.value("samples").toInteger() + 1);
    QFile plot(svg);
    ASSERT_TRUE(plot.open(QIODevice::ReadOnly));
    EXPECT_TRUE(plot.readAll().contains("class=\"measured\""));

    QProcess trace;
    trace.start(QStringLiteral(KQMCTL_PATH), QStringList{"trace", program, "--json"} + port);
    ASSERT_TRUE(trace.waitForStarted());
    QByteArray err;
    trace.setReadChannel(QProcess::StandardError);
    while (!err.contains("running") && trace.waitForReadyRead(20000))
        err += trace.readAllStandardError();
    trace.waitForFinished(800); // in the first move
    ASSERT_EQ(trace.state(), QProcess::Running) << err.toStdString();
    ::kill(static_cast<pid_t>(trace.processId()), SIGINT);
    ASSERT_TRUE(trace.waitForFinished(20000));
    EXPECT_EQ(trace.exitCode(), 3);
    const QJsonObject stopped = jsonOf(QString::fromUtf8(trace.readAllStandardOutput()));
    EXPECT_EQ(stopped.value("end").toString(), QStringLiteral("stopped"));
    EXPECT_TRUE(stopped.value("unit_stopped").toBool());
    // The unit stands where the trace's last reading found it, in its first
    // move, and answers the next command.
    const auto readout = runKqmctl(QStringList{"readout"} + port);
    ASSERT_EQ(readout.status, 0) << readout.err.toStdString();
    const qint64 standing = stopped.value("final_position").toInteger();
    EXPECT_EQ(positionOf(readout.out), standing);
    EXPECT_GT(standing, 6000);
    EXPECT_LT(standing, 6000 + 1500);
}

TEST(KqmctlTrace, RefusesWhatItCannotUse) {
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("p.mdb"));
    kqm::test::WriteProgramFile(program, {{"A10"}, {"Q"}});
    const QList<QStringList> refused{
        {"trace", program},
        {"trace", program, "--port", "/dev/null", "--limit", "0"},
        {"trace", program, "--port", "/dev/null", "--limit", "abc"},
        {"trace", program, "--port", "/dev/null", "--baud", "1234"},
        {"trace", program, "--port", "/dev/null", "--csv", program},
        {"trace", dir.filePath("none.mdb"), "--port", "/dev/null"},
    };
    for (const QStringList& arguments : refused) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const auto run = runKqmctl(arguments);
        EXPECT_EQ(run.status, 2) << run.err.toStdString();
        EXPECT_TRUE(run.err.startsWith("kqmctl: ")) << run.err.toStdString();
    }
    EXPECT_EQ(kqm::test::ReadProgramFile(program).size(), 2);
}

} // namespace
