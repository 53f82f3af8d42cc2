#include "support/program_files.h"
#include "support/pty_unit.h"
#include "support/send_refusals.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/types.h>

namespace {

struct Result {
    int status = -1;
    QString out;
    QString err;
};

Result kqmctl(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(KQMCTL_PATH), arguments);
    EXPECT_TRUE(process.waitForFinished(50000));
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// kqmctl simulate in one process; send, upload and view in others, through the
// real serial code on a pseudo-terminal.
TEST(KqmctlTransfer, RoundTripThroughAPseudoTerminal) {
    QTemporaryDir dir;
    kqm::test::PtyUnit unit(QStringLiteral(KQMCTL_PATH), {"--axis", "4"});
    ASSERT_FALSE(unit.device().isEmpty());
    const QString sent = dir.filePath(QStringLiteral("sent.mdb"));
    kqm::test::WriteProgramFile(sent, {{"A100"}, {QStringLiteral("N500\r@4G")}, {"&3_2"}, {"Q"}});
    const QStringList port = {"--port", unit.device(), "--axis", "4"};

    Result result = kqmctl(QStringList{"send", sent} + port);
    ASSERT_EQ(result.status, 0) << result.err.toStdString();
    // Standard error is a pipe here: a line at each tenth, none written over.
    EXPECT_FALSE(result.err.contains(QLatin1Char('\r')));
    EXPECT_EQ(result.err.count(QStringLiteral("Sending: ")), 10) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains(QStringLiteral("(100 %), 0:00 left\n")));

    const QString uploaded = dir.filePath(QStringLiteral("uploaded.mdb"));
    result = kqmctl(QStringList{"upload"} + port + QStringList{"--output", uploaded});
    ASSERT_EQ(result.status, 0) << result.err.toStdString();
    QStringList commands;
    for (const auto& row : kqm::test::ReadProgramFile(uploaded))
        commands << row.command;
    EXPECT_EQ(commands, (QStringList{"A100", "N500,G", "&2,2", "Q"}));
    // The same program as sent, in the forms an upload writes.
    EXPECT_EQ(kqm::test::ReadProgramFile(uploaded).at(2).listing,
              QStringLiteral("Loop 2 Times to Line 2"));

    // Sent back as uploaded, and uploaded again: the same program.
    result = kqmctl(QStringList{"send", uploaded, "--quiet"} + port);
    ASSERT_EQ(result.status, 0) << result.err.toStdString();
    EXPECT_FALSE(result.err.contains(QStringLiteral("Sending")));
    const QString again = dir.filePath(QStringLiteral("again.mdb"));
    result = kqmctl(QStringList{"upload"} + port + QStringList{"--output", again});
    ASSERT_EQ(result.status, 0) << result.err.toStdString();
    QStringList againCommands;
    for (const auto& row : kqm::test::ReadProgramFile(again))
        againCommands << row.command;
    EXPECT_EQ(againCommands, commands);

    result = kqmctl(QStringList{"view"} + port);
    EXPECT_EQ(result.status, 0) << result.err.toStdString();
    EXPECT_EQ(result.out, QStringLiteral("0000 A100\n0003 N500,G\n0010 &2,3\nQ\n"));

    // Every send and upload is in the transfer log, for this axis.
    result = kqmctl({"log", "--axis", "4", "--json"});
    ASSERT_EQ(result.status, 0) << result.err.toStdString();
    QStringList transfers;
    for (const QString& line : result.out.split('\n', Qt::SkipEmptyParts)) {
        const QJsonObject entry = QJsonDocument::fromJson(line.toUtf8()).object();
        EXPECT_EQ(entry.value("device").toString(), unit.device());
        EXPECT_EQ(entry.value("model").toString() + entry.value("revision").toString(),
                  QStringLiteral("KQM201.65"));
        EXPECT_EQ(entry.value("sha256").toString().size(), 64);
        transfers << QFileInfo(entry.value("program").toString()).fileName() + ' ' +
                         entry.value("kind").toString() + ' ' + entry.value("result").toString();
    }
    EXPECT_EQ(transfers,
              (QStringList{"sent.mdb send sent-unverified", "uploaded.mdb upload uploaded",
                           "uploaded.mdb send sent-unverified", "again.mdb upload uploaded"}));
    EXPECT_EQ(kqmctl({"log", "--axis", "5"}).out, QString());

    // An existing output file is never overwritten; a wrong axis does not connect.
    EXPECT_EQ(kqmctl(QStringList{"upload"} + port + QStringList{"--output", uploaded}).status, 2);
    EXPECT_EQ(kqmctl({"view", "--port", unit.device(), "--axis", "5"}).status, 1);
}

// Every refusal of a send, through kqmctl send and kqmctl machine send: the
// same text, nothing sent, and the unit keeps what it held.
TEST(KqmctlTransfer, EverySenderRefusesWhatASendRefuses) {
    QTemporaryDir dir;
    kqm::test::PtyUnit unit(QStringLiteral(KQMCTL_PATH), {"--axis", "2"});
    ASSERT_FALSE(unit.device().isEmpty());
    const QStringList port = {"--port", unit.device(), "--axis", "2"};
    const QString good = dir.filePath(QStringLiteral("good.mdb"));
    kqm::test::WriteProgramFile(good, {{"A100"}, {"Q"}});
    ASSERT_EQ(kqmctl(QStringList{"send", good, "--quiet"} + port).status, 0);
    const QString machine = dir.filePath(QStringLiteral("m.kqmachine"));
    const auto machineOf = [&machine](const QString& program) {
        QFile file(machine);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(QStringLiteral(R"({"name": "line", "units": [{"axis": 2, "program": "%1"}]})")
                       .arg(QFileInfo(program).fileName())
                       .toUtf8());
    };
    int n = 0;
    for (const kqm::test::RefusedProgram& refused : kqm::test::refusedPrograms()) {
        SCOPED_TRACE(refused.name);
        const QString path = dir.filePath(QStringLiteral("refused%1.mdb").arg(++n));
        kqm::test::WriteProgramFile(path, refused.lines);
        const Result send = kqmctl(QStringList{"send", path} + port);
        EXPECT_EQ(send.status, 1);
        EXPECT_TRUE(send.err.startsWith(refused.says)) << send.err.toStdString();
        machineOf(path);
        const Result machineSend = kqmctl({"machine", "send", machine, "--port", unit.device()});
        EXPECT_EQ(machineSend.status, 1);
        EXPECT_TRUE(machineSend.out.contains(refused.says)) << machineSend.out.toStdString();
    }
    // Nothing of it reached the unit.
    machineOf(good);
    const Result status = kqmctl({"machine", "status", machine, "--port", unit.device()});
    EXPECT_EQ(status.status, 0) << status.out.toStdString();
    EXPECT_EQ(kqmctl({"send", "--port", "sim"}).status, 2);
}

// Ctrl+C (or the terminal closing) ends every command that talks to the
// unit with its message: in the greeting, in a scan, and in a send, which
// ends cleanly and leaves the unit out of program entry.
TEST(KqmctlTransfer, InterruptsEndEachCommandWithItsMessage) {
    QTemporaryDir dir;
    kqm::test::PtyUnit unit(QStringLiteral(KQMCTL_PATH), {});
    ASSERT_FALSE(unit.device().isEmpty());
    const QString program = dir.filePath(QStringLiteral("long.mdb"));
    QVector<kqm::test::Line> lines(40, kqm::test::Line{QStringLiteral("B600")});
    lines << kqm::test::Line{QStringLiteral("Q")};
    kqm::test::WriteProgramFile(program, lines);
    const struct {
        QStringList arguments;
        int signal;
        QByteArray waitFor; // on standard error before the signal; empty: 0.7 s
        const char* says;
    } cases[] = {
        {{"connect"}, SIGINT, {}, "stopped (interrupted) while the unit was greeted"},
        {{"scan"}, SIGINT, {}, "stopped (interrupted); the scan ended"},
        {{"send", program}, SIGHUP, "(20 %)", "The send was stopped after"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.first().toStdString());
        QProcess process;
        process.setReadChannel(QProcess::StandardError);
        process.start(QStringLiteral(KQMCTL_PATH),
                      c.arguments + QStringList{"--port", unit.device()});
        ASSERT_TRUE(process.waitForStarted());
        QByteArray err;
        if (c.waitFor.isEmpty()) {
            process.waitForFinished(700);
        } else {
            while (!err.contains(c.waitFor) && process.waitForReadyRead(20000))
                err += process.readAllStandardError();
        }
        ::kill(static_cast<pid_t>(process.processId()), c.signal);
        ASSERT_TRUE(process.waitForFinished(20000));
        err += process.readAllStandardError();
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 1);
        EXPECT_TRUE(err.contains(c.says)) << err.toStdString();
    }
    // The stopped send left an empty program, out of entry: the unit answers.
    const Result status = kqmctl({"connect", "--port", unit.device()});
    EXPECT_EQ(status.out, QStringLiteral("KQM20\n")) << status.err.toStdString();

    // Its progress read by a reader that goes away ("| head -1"): the send
    // goes on to its end.
    const QString shorter = dir.filePath(QStringLiteral("short.mdb"));
    kqm::test::WriteProgramFile(shorter, {{"B700"}, {"A20"}, {"Q"}});
    QProcess send;
    send.setReadChannel(QProcess::StandardError);
    send.start(QStringLiteral(KQMCTL_PATH), {"send", shorter, "--port", unit.device()});
    ASSERT_TRUE(send.waitForReadyRead(20000));
    send.closeReadChannel(QProcess::StandardError);
    ASSERT_TRUE(send.waitForFinished(30000));
    EXPECT_EQ(send.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(send.exitCode(), 0);
    const Result view = kqmctl({"view", "--port", unit.device()});
    EXPECT_TRUE(view.out.contains("B700")) << view.out.toStdString();
}

TEST(KqmctlReadout, PrintsEveryLabelAndTheInputs) {
    kqm::test::PtyUnit unit(QStringLiteral(KQMCTL_PATH), {"--model", "KQM21"});
    ASSERT_FALSE(unit.device().isEmpty());
    const Result result = kqmctl({"readout", "--port", unit.device()});
    ASSERT_EQ(result.status, 0) << result.err.toStdString();
    EXPECT_EQ(result.out, QStringLiteral("Acceleration: 16\nBase Speed: 500\nMax Speed: 1500\n"
                                         "Jog Speed: 1500\nDirection: CW\n"
                                         "Number of Steps to Move: 0\nRegistration Index: 0\n"
                                         "Version: KQM21, Revision 1.65\nError Code: 0\n"
                                         "Inputs: 0 0 0 0\n"));
    EXPECT_EQ(kqmctl({"readout"}).status, 2);
}

// Ctrl+C during a send: the line in hand is finished, the unit is left with
// an empty program and answers again, and kqmctl says so and fails.
TEST(KqmctlTransfer, InterruptedSendLeavesAnEmptyProgram) {
    QTemporaryDir dir;
    kqm::test::PtyUnit unit(QStringLiteral(KQMCTL_PATH), {});
    ASSERT_FALSE(unit.device().isEmpty());
    const QString file = dir.filePath(QStringLiteral("long.mdb"));
    QVector<kqm::test::Line> lines;
    for (int i = 0; i < 20; ++i)
        lines << kqm::test::Line{QStringLiteral("N%1\r@0G").arg(100000 + i)};
    lines << kqm::test::Line{QStringLiteral("Q")};
    kqm::test::WriteProgramFile(file, lines);
    const QStringList port = {"--port", unit.device()};

    QProcess send;
    send.setReadChannel(QProcess::StandardError);
    send.start(QStringLiteral(KQMCTL_PATH), QStringList{"send", file} + port);
    QByteArray progress;
    while (!progress.contains("(20 %)") && send.waitForReadyRead(20000))
        progress += send.readAllStandardError();
    ASSERT_TRUE(progress.contains("(20 %)"));
    ::kill(static_cast<pid_t>(send.processId()), SIGINT);
    ASSERT_TRUE(send.waitForFinished(20000));
    const QString err = QString::fromUtf8(progress + send.readAllStandardError());
    EXPECT_EQ(send.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(send.exitCode(), 1);
    EXPECT_TRUE(err.contains(QStringLiteral("The send was stopped after"))) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("program memory is now empty")));

    const Result view = kqmctl(QStringList{"view"} + port);
    EXPECT_EQ(view.status, 0) << view.err.toStdString();
    EXPECT_EQ(view.out, QStringLiteral("Q\n"));
}

// A reply that holds no program line makes no file, and says so.
TEST(KqmctlTransfer, AnUploadOfNoLineWritesNoFile) {
    QTemporaryDir dir;
    kqm::test::PtyUnit unit(QStringLiteral(KQMCTL_PATH), {"--garbage-after", "3"});
    ASSERT_FALSE(unit.device().isEmpty());
    const QString output = dir.filePath(QStringLiteral("garbage.mdb"));
    const Result result = kqmctl({"upload", "--port", unit.device(), "--output", output});
    EXPECT_EQ(result.status, 1) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains(QStringLiteral("no file was written")));
    EXPECT_FALSE(QFile::exists(output));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList());
}

} // namespace

namespace {

int countFiles(const QString& folder, const QString& pattern) {
    return static_cast<int>(QDir(folder).entryList({pattern}, QDir::Files).size());
}

// Through the real serial port, to a unit that drops characters coming
// closer than 50 ms: the sure pace verifies, a faster one is caught by the
// read-back (exit 4), and the unit's program is kept before each send.
TEST(KqmctlTransfer, VerifiedSendsBackupsAndThePace) {
    QTemporaryDir dir;
    kqm::test::PtyUnit unit(QStringLiteral(KQMCTL_PATH), {"--slow-receiver", "50"});
    ASSERT_FALSE(unit.device().isEmpty());
    const QString first = dir.filePath(QStringLiteral("first.mdb"));
    const QString second = dir.filePath(QStringLiteral("second.mdb"));
    kqm::test::WriteProgramFile(first, {{"A10"}, {"Q"}});
    kqm::test::WriteProgramFile(second, {{"W5"}, {"Q"}});
    const QString backups = dir.filePath(QStringLiteral("backups"));
    const QStringList port = {"--port", unit.device()};

    Result result = kqmctl(QStringList{"send", first, "--verify", "--backup-dir", backups} + port);
    ASSERT_EQ(result.status, 0) << result.err.toStdString();
    EXPECT_TRUE(result.out.contains(QLatin1String("The unit holds the program (2 lines verified)")))
        << result.out.toStdString();
    EXPECT_EQ(countFiles(backups, "*.backup"), 1); // the unit held no program: a record only
    EXPECT_EQ(countFiles(backups, "*.mdb"), 0);
    // Into a pipe, a line for each phase, in order, and the backup in words.
    QStringList phases;
    for (const QString& line : result.err.split('\n')) {
        for (const char* phase : {"Connecting to ", "Keeping the unit's program",
                                  "Sending ", "Reading the program back", "The unit held no program"})
            if (line.startsWith(QLatin1String(phase)) && !line.startsWith(QLatin1String("Sending:")))
                phases << QString::fromLatin1(phase).trimmed();
    }
    EXPECT_EQ(phases, (QStringList{"Connecting to", "Keeping the unit's program", "Sending",
                                   "Reading the program back", "The unit held no program"}))
        << result.err.toStdString();

    result = kqmctl(QStringList{"send", second, "--pace", "0.02", "--backup-dir", backups} + port);
    EXPECT_EQ(result.status, 4) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains(QLatin1String("faster pace"))) << result.err.toStdString();
    EXPECT_EQ(countFiles(backups, "*.backup"), 2);
    ASSERT_EQ(countFiles(backups, "*.mdb"), 1); // the first program, kept before it was replaced
    const QString kept =
        QDir(backups).filePath(QDir(backups).entryList({"*.mdb"}, QDir::Files).first());
    QStringList commands;
    for (const auto& row : kqm::test::ReadProgramFile(kept))
        commands << row.command;
    EXPECT_EQ(commands, (QStringList{"A10", "Q"}));

    // Sent again at the sure pace, it verifies.
    result = kqmctl(QStringList{"send", second, "--verify", "--quiet"} + port);
    EXPECT_EQ(result.status, 0) << result.err.toStdString();
    EXPECT_EQ(result.err, QString()); // --quiet writes no progress
    EXPECT_EQ(kqmctl(QStringList{"send", second, "--pace", "0.03"} + port).status, 2);
}

} // namespace
