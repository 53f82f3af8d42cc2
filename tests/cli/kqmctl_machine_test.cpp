#include "support/program_files.h"
#include "support/pty_unit.h"
#include "support/run_kqmctl.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <signal.h>

#include <gtest/gtest.h>

using kqm::test::runKqmctl;

namespace {

// Three units named, two on the line: one holds its program, one another,
// and the third is not there; over the real serial port.
TEST(KqmctlMachine, StatusAndSendOfEveryUnit) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    kqm::test::PtyUnit line(QStringLiteral(KQMCTL_PATH), {"--axes", "1,2"});
    ASSERT_FALSE(line.device().isEmpty());
    kqm::test::WriteProgramFile(dir.filePath("feeder.mdb"), {{"A10"}, {"W5"}, {"Q"}});
    kqm::test::WriteProgramFile(dir.filePath("clamp.mdb"), {{"B600"}, {"Q"}});
    for (const auto& [axis, file] : {std::pair{"1", "feeder.mdb"}, std::pair{"2", "clamp.mdb"}})
        ASSERT_EQ(runKqmctl({"send", dir.filePath(file), "--port", line.device(), "--axis", axis,
                             "--quiet"})
                      .status,
                  0);
    QFile machine(dir.filePath("press.kqmachine"));
    ASSERT_TRUE(machine.open(QIODevice::WriteOnly));
    machine.write(R"({"name": "press", "units": [
        {"axis": 1, "program": "feeder.mdb", "model": "KQM20"},
        {"axis": 2, "program": "feeder.mdb"},
        {"axis": 3, "program": "clamp.mdb"}]})");
    machine.close();

    auto status = runKqmctl({"machine", "status", machine.fileName(), "--port", line.device()});
    EXPECT_EQ(status.status, 1) << status.err.toStdString();
    EXPECT_EQ(status.out, "1\tKQM20\tin-step\t\n"
                          "2\tKQM20\tdiffers\tline 1\n"
                          "3\t-\tno-unit\tno unit answered on axis 3\n");
    EXPECT_TRUE(status.err.endsWith("press: 1 in step, 1 differs, 1 no unit\n"))
        << status.err.toStdString();
    // The check ran: the log says what it found, not that it failed.
    const QString checked = runKqmctl({"log", "--json"}).out.split('\n', Qt::SkipEmptyParts).last();
    EXPECT_EQ(QJsonDocument::fromJson(checked.toUtf8())["result"].toString(),
              "1 in step, 1 differs, 1 no unit");
    // The status changed nothing: the second unit still holds its own program.
    status =
        runKqmctl({"machine", "status", machine.fileName(), "--port", line.device(), "--json"});
    const QJsonArray units = QJsonDocument::fromJson(status.out.toUtf8())["units"].toArray();
    ASSERT_EQ(units.size(), 3);
    EXPECT_EQ(units.at(1)["state"].toString(), "differs");

    // The send: only the unit that differs goes, with backup and read-back;
    // the missing unit ends the table as it was, and the run fails on it.
    const QString backups = dir.filePath("backups");
    auto send = runKqmctl({"machine", "send", machine.fileName(), "--port", line.device(), "--pace",
                           "0.02", "--backup-dir", backups},
                          60000);
    EXPECT_EQ(send.status, 1) << send.err.toStdString();
    EXPECT_EQ(send.out, "1\tKQM20\tin-step\t\n"
                        "2\tKQM20\tin-step\tsent and verified at 0.02 s\n"
                        "3\t-\tno-unit\tno unit answered on axis 3\n");
    EXPECT_TRUE(QDir(backups + "/axis-2").entryList({"*.backup"}).size() == 1);
    EXPECT_FALSE(QDir(backups + "/axis-1").exists());
    const QStringList logged = runKqmctl({"log", "--json"}).out.split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(logged.size(), 2);
    const QJsonObject sent =
        QJsonDocument::fromJson(logged.at(logged.size() - 2).toUtf8()).object();
    EXPECT_EQ(sent["axis"].toInt(), 2);
    EXPECT_EQ(sent["result"].toString(), "verified");
    EXPECT_EQ(QJsonDocument::fromJson(logged.last().toUtf8())["kind"].toString(), "machine-send");
    EXPECT_EQ(QJsonDocument::fromJson(logged.last().toUtf8())["result"].toString(),
              "failed: 1 in step, 1 sent, 1 no unit");
    // A pace other than the usual ones is taken only when the unit proved it.
    send = runKqmctl({"send", dir.filePath("feeder.mdb"), "--port", line.device(), "--axis", "1",
                      "--pace", "0.005"});
    EXPECT_EQ(send.status, 2);
    // The refusal names the paces there are.
    EXPECT_TRUE(send.err.contains("0.005 s is not a pace a send can use: the paces are 0.1, 0.05, "
                                  "0.02, 0.01 s, or the one proven for the unit"))
        << send.err.toStdString();
    // Without the missing unit, the machine is in step, and nothing is sent.
    machine.open(QIODevice::WriteOnly | QIODevice::Truncate);
    machine.write(R"({"name": "press", "units": [
        {"axis": 1, "program": "feeder.mdb"}, {"axis": 2, "program": "feeder.mdb"}]})");
    machine.close();
    send = runKqmctl({"machine", "send", machine.fileName(), "--port", line.device(), "--json"});
    EXPECT_EQ(send.status, 0) << send.err.toStdString();
    EXPECT_FALSE(QJsonDocument::fromJson(send.out.toUtf8())["units"][1]["sent"].toBool());

    // A machine file that is refused says why, with the usage error status.
    machine.open(QIODevice::WriteOnly | QIODevice::Truncate);
    machine.write(R"({"name": "press", "units": [{"axis": 40, "program": "feeder.mdb"}]})");
    machine.close();
    status = runKqmctl({"machine", "status", machine.fileName(), "--port", line.device()});
    EXPECT_EQ(status.status, 2);
    EXPECT_TRUE(status.err.contains("the axis must be a whole number from 0 to 31"))
        << status.err.toStdString();
}

// Ctrl+C during the first unit's send ends it as a send ends; the next unit
// is reported as not sent, and keeps what it held.
TEST(KqmctlMachine, InterruptedSendReportsTheRestAsNotSent) {
    QTemporaryDir dir;
    kqm::test::PtyUnit line(QStringLiteral(KQMCTL_PATH), {"--axes", "1,2"});
    ASSERT_FALSE(line.device().isEmpty());
    QVector<kqm::test::Line> lines(30, kqm::test::Line{QStringLiteral("B600")});
    lines << kqm::test::Line{QStringLiteral("Q")};
    kqm::test::WriteProgramFile(dir.filePath("long.mdb"), lines);
    QFile machine(dir.filePath("m.kqmachine"));
    ASSERT_TRUE(machine.open(QIODevice::WriteOnly));
    machine.write(R"({"name": "m", "units": [{"axis": 1, "program": "long.mdb"},
        {"axis": 2, "program": "long.mdb"}]})");
    machine.close();

    QProcess send;
    send.setReadChannel(QProcess::StandardError);
    send.start(QStringLiteral(KQMCTL_PATH),
               {"machine", "send", machine.fileName(), "--port", line.device(), "--pace", "0.02",
                "--backup-dir", dir.filePath("backups")});
    QByteArray progress;
    while (!progress.contains("(20 %)") && send.waitForReadyRead(20000))
        progress += send.readAllStandardError();
    ASSERT_TRUE(progress.contains("Axis 1: sent")) << progress.toStdString();
    ::kill(static_cast<pid_t>(send.processId()), SIGINT);
    ASSERT_TRUE(send.waitForFinished(20000));
    EXPECT_EQ(send.exitCode(), 1);
    const QStringList table =
        QString::fromUtf8(send.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(table.size(), 2);
    EXPECT_TRUE(table.at(0).startsWith("1\tKQM20\tnot-checked\tThe send was stopped after"))
        << table.at(0).toStdString();
    EXPECT_EQ(table.at(1), "2\t-\tnot-checked\tnot sent: the run was stopped");
    const auto status =
        runKqmctl({"machine", "status", machine.fileName(), "--port", line.device()});
    EXPECT_TRUE(status.out.contains("2\tKQM20\tno-program")) << status.out.toStdString();
}

// kqmctl ended by a signal at a random moment of a send, a machine run, a
// connect or a status, on a line of two units. Whatever ended it, the next
// connect reaches every unit. A signal kqmctl catches leaves no unit storing
// frames; only SIGKILL may, and the connect then ends that entry and says so.
TEST(KqmctlMachine, EveryUnitAnswersAfterAnySignal) {
    QTemporaryDir dir;
    kqm::test::PtyUnit line(QStringLiteral(KQMCTL_PATH), {"--axes", "0,1"});
    ASSERT_FALSE(line.device().isEmpty());
    QVector<kqm::test::Line> lines(30, kqm::test::Line{QStringLiteral("B600")});
    lines << kqm::test::Line{QStringLiteral("Q")};
    const QString program = dir.filePath("long.mdb");
    kqm::test::WriteProgramFile(program, lines);
    QFile machine(dir.filePath("m.kqmachine"));
    ASSERT_TRUE(machine.open(QIODevice::WriteOnly));
    machine.write(R"({"name": "m", "units": [{"axis": 0, "program": "long.mdb"},
        {"axis": 1, "program": "long.mdb"}]})");
    machine.close();
    const QString backups = dir.filePath("backups");
    const QList<QStringList> commands = {
        {"send", program, "--axis", "0", "--backup-dir", backups},
        {"send", program, "--axis", "1", "--pace", "0.02"},
        {"machine", "send", machine.fileName(), "--pace", "0.02", "--backup-dir", backups},
        {"machine", "status", machine.fileName()},
        {"connect", "--axis", "1"},
    };
    const int endings[] = {SIGINT, SIGTERM, SIGHUP, SIGKILL};
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    for (int step = 0; step < 6; ++step) {
        const QStringList command = commands.at(random.bounded(int(commands.size())));
        const int signal = endings[random.bounded(4)];
        const int afterMs = 150 + random.bounded(2500);
        SCOPED_TRACE(QStringLiteral("seed %1, step %2: %3, signal %4 after %5 ms")
                         .arg(seed)
                         .arg(step)
                         .arg(command.join(' '))
                         .arg(signal)
                         .arg(afterMs)
                         .toStdString());
        QProcess process;
        process.start(QStringLiteral(KQMCTL_PATH), command + QStringList{"--port", line.device()});
        ASSERT_TRUE(process.waitForStarted());
        if (!process.waitForFinished(afterMs)) {
            ::kill(static_cast<pid_t>(process.processId()), signal);
            ASSERT_TRUE(process.waitForFinished(30000));
        }
        const QString said = QString::fromUtf8(process.readAllStandardError());
        for (const char* axis : {"0", "1"}) {
            const auto connect =
                runKqmctl({"connect", "--port", line.device(), "--axis", axis}, 30000);
            EXPECT_EQ(connect.status, 0) << "axis " << axis << ": " << connect.err.toStdString()
                                         << "\nafter: " << said.toStdString();
            EXPECT_EQ(connect.out, "KQM20\n");
            if (signal != SIGKILL) {
                EXPECT_FALSE(connect.err.contains("left storing"))
                    << "axis " << axis << ": " << connect.err.toStdString()
                    << "\nafter: " << said.toStdString();
            }
        }
    }
}

} // namespace
