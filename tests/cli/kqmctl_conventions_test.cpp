#include "support/program_files.h"
#include "version.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct Outcome {
    int status = -1;
    QString out;
    QString err;
};

Outcome start(const QString& program, const QStringList& arguments,
              const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(30000));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

Outcome kqmctl(const QStringList& arguments) {
    return start(QStringLiteral(KQMCTL_PATH), arguments);
}

const char* const Commands[] = {"list",     "check",  "edit",   "undo",     "redo",
                                "history",  "export", "import", "print",    "connect",
                                "send",     "upload", "view",   "readout",  "scan",
                                "simulate", "run",    "log",    "pace-test"};

TEST(KqmctlConventions, EveryCommandHasHelpAndNamesAWrongOption) {
    for (const char* name : Commands) {
        const QString command = QString::fromLatin1(name);
        SCOPED_TRACE(name);
        const QString usage = QStringLiteral("usage: kqmctl ") + command;

        const Outcome help = kqmctl({command, QStringLiteral("--help")});
        EXPECT_EQ(help.status, 0);
        EXPECT_TRUE(help.out.startsWith(usage)) << help.out.toStdString();
        EXPECT_EQ(help.err, QString());

        const Outcome wrong = kqmctl({command, QStringLiteral("--no-such-option")});
        EXPECT_EQ(wrong.status, 2);
        EXPECT_EQ(wrong.out, QString());
        EXPECT_TRUE(
            wrong.err.startsWith(QStringLiteral("kqmctl: unknown option '--no-such-option'\n")))
            << wrong.err.toStdString();
        EXPECT_TRUE(wrong.err.contains(usage)) << wrong.err.toStdString();
    }
}

TEST(KqmctlConventions, VersionWithoutAWindowSystem) {
    const Outcome cli = kqmctl({QStringLiteral("--version")});
    EXPECT_EQ(cli.status, 0);
    EXPECT_EQ(cli.out, QStringLiteral("kqmctl " KQM_VERSION "\n"));

    // A platform that does not exist would end the program if --version
    // made the application first.
    for (const char* platform : {"offscreen", "no-such-platform"}) {
        SCOPED_TRACE(platform);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QString::fromLatin1(platform));
        const Outcome app =
            start(QStringLiteral(KQM_INDEXER_PATH), {QStringLiteral("--version")}, environment);
        EXPECT_EQ(app.status, 0);
        EXPECT_EQ(app.out, QStringLiteral("kqm-indexer " KQM_VERSION "\n"));
    }
    const Outcome wrong =
        start(QStringLiteral(KQM_INDEXER_PATH), {QStringLiteral("--no-such-option")});
    EXPECT_EQ(wrong.status, 2);
    EXPECT_TRUE(wrong.err.contains(QStringLiteral("no-such-option"))) << wrong.err.toStdString();
}

QJsonObject parsed(const Outcome& run) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(run.out.toUtf8(), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << run.out.toStdString();
    return document.object();
}

TEST(KqmctlConventions, ListJson) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString comment = QStringLiteral("say \"hi\"\tthen \u00e9t\u00e9 \\ done");
    const QString path = dir.filePath(QStringLiteral("demo.mdb"));
    kqm::test::WriteProgramFile(
        path, {{"A10", "!", comment}, {QStringLiteral("N500\r\n@0G")}, {"Q", "!", "end"}});
    const Outcome run = kqmctl({QStringLiteral("list"), QStringLiteral("--json"), path});
    EXPECT_EQ(run.status, 0);
    const QJsonObject root = parsed(run);
    const QJsonArray lines = root.value(QStringLiteral("lines")).toArray();
    ASSERT_EQ(lines.size(), 3);
    const struct {
        int line;
        int address;
        QString command;
        QString listing;
        QString comment;
    } expected[] = {
        {1, 0, QStringLiteral("A10"), QStringLiteral("Accel/Decel=10"), comment},
        {2, 3, QStringLiteral("N500\r\n@0G"), QStringLiteral("Go relative 500"),
         QStringLiteral(" ")},
        {3, 10, QStringLiteral("Q"), QStringLiteral("Quit"), QStringLiteral("end")},
    };
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const QJsonObject line = lines.at(i).toObject();
        EXPECT_EQ(line.value(QStringLiteral("line")).toInt(), expected[i].line);
        EXPECT_EQ(line.value(QStringLiteral("address")).toInt(), expected[i].address);
        EXPECT_EQ(line.value(QStringLiteral("command")).toString(), expected[i].command);
        EXPECT_EQ(line.value(QStringLiteral("listing")).toString(), expected[i].listing);
        EXPECT_EQ(line.value(QStringLiteral("comment")).toString(), expected[i].comment);
    }
    EXPECT_EQ(root.value(QStringLiteral("bytesUsed")).toInt(), 12);
    EXPECT_EQ(root.value(QStringLiteral("memoryBytes")).toInt(), 2047);
    EXPECT_EQ(root.value(QStringLiteral("fits")), QJsonValue(true));

    const QString big = dir.filePath(QStringLiteral("big.mdb"));
    kqm::test::WriteProgramFile(big, QVector<kqm::test::Line>(293, {"P1"}));
    const Outcome large = kqmctl({QStringLiteral("list"), big, QStringLiteral("--json")});
    EXPECT_EQ(large.status, 3);
    EXPECT_EQ(parsed(large).value(QStringLiteral("bytesUsed")).toInt(), 2051);
    EXPECT_EQ(parsed(large).value(QStringLiteral("fits")), QJsonValue(false));
}

// The JSON says what the plain lines say, for each kind of outcome.
TEST(KqmctlConventions, CheckJsonMatchesThePlainReport) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const struct {
        const char* name;
        QVector<kqm::test::Line> lines;
        int status;
        int errors;
        int warnings;
    } cases[] = {
        {"clean", {{"A10", "!", QStringLiteral("\"q\"\t\u00fc")}, {"Q"}}, 0, 0, 0},
        {"warnings", {{"A10"}, {"?3"}, {"Q"}}, 1, 0, 1},
        {"errors", {{"X9"}, {"Q"}, {"W5"}}, 3, 2, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromLatin1(c.name) + QStringLiteral(".mdb"));
        kqm::test::WriteProgramFile(path, c.lines);
        const Outcome plain = kqmctl({QStringLiteral("check"), path});
        const Outcome json = kqmctl({QStringLiteral("check"), QStringLiteral("--json"), path});
        EXPECT_EQ(json.status, c.status);
        EXPECT_EQ(plain.status, c.status);
        const QJsonObject root = parsed(json);
        QString lines;
        for (const QJsonValue& value : root.value(QStringLiteral("problems")).toArray()) {
            const QJsonObject problem = value.toObject();
            lines += QStringLiteral("%1: %2: %3\n")
                         .arg(problem.value(QStringLiteral("line")).toInt())
                         .arg(problem.value(QStringLiteral("severity")).toString(),
                              problem.value(QStringLiteral("message")).toString());
        }
        EXPECT_EQ(lines, plain.out);
        const QJsonObject summary = root.value(QStringLiteral("summary")).toObject();
        EXPECT_EQ(summary.value(QStringLiteral("errors")).toInt(), c.errors);
        EXPECT_EQ(summary.value(QStringLiteral("warnings")).toInt(), c.warnings);
        EXPECT_EQ(summary.value(QStringLiteral("clean")).toBool(), c.status == 0);
    }
}

// A port that cannot be used is named as typed, with the system's reason
// first; a rate the unit does not run at is refused before any port opens.
TEST(KqmctlConventions, PortsAndRatesAreNamedAsTyped) {
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("ttyUSB9"));
    const struct {
        QStringList arguments;
        int status;
        QString said;
    } cases[] = {
        {{"connect", "--port", missing}, 1, missing + QStringLiteral(": no such device")},
        {{"connect", "--port", "/dev/null"}, 1, QStringLiteral("/dev/null: not a serial port")},
        {{"connect", "--port", missing, "--baud", "1234"}, 2,
         QStringLiteral("--baud takes a rate the unit runs at: 300, 600, 1200, 2400, 4800 or 9600 "
                        "(not 1234)")},
        {{"scan", "--port", missing, "--baud", "115200"}, 2, QStringLiteral("(not 115200)")},
        {{"connect", "--port", missing, "--baud", " 9600"}, 2, QStringLiteral("(not  9600)")},
        {{"connect", "--port", missing, "--baud", "09600"}, 2, QStringLiteral("(not 09600)")},
        {{"connect", "--port", missing, "--baud", "+300"}, 2, QStringLiteral("(not +300)")},
        {{"machine", "status", "m.kqmachine", "--port", missing, "--baud", "19200"}, 2,
         QStringLiteral("(not 19200)")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QProcess process;
        process.start(QStringLiteral(KQMCTL_PATH), c.arguments);
        ASSERT_TRUE(process.waitForFinished(30000));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        EXPECT_EQ(process.exitCode(), c.status) << err.toStdString();
        EXPECT_TRUE(err.contains(c.said)) << err.toStdString();
        EXPECT_FALSE(err.contains(QStringLiteral("Com Port1"))) << err.toStdString();
    }
}

// Every option a command's --help names is in its part of kqmctl(1), so the
// manual page cannot fall behind the program again.
TEST(KqmctlConventions, TheManualPageNamesEveryOptionOfEveryCommand) {
    QFile page(QStringLiteral(KQM_LEGACY_FIXTURES "/../../../packaging/man/kqmctl.1.scd"));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(page.readAll()).split(QLatin1Char('\n'));
    // A command's part: from its entry ("*send* ...") to the next entry or heading.
    const auto partOf = [&lines](const QString& command) {
        QString part;
        bool inside = false;
        for (const QString& line : lines) {
            const bool entry = line.startsWith(QLatin1Char('*')) || line.startsWith(QLatin1Char('#'));
            if (entry)
                inside = line.startsWith(QLatin1Char('*') + command + QLatin1Char('*')) ||
                         line.startsWith(QLatin1Char('*') + command + QLatin1Char(' ')) ||
                         line.contains(QStringLiteral(", *") + command + QLatin1Char('*'));
            if (inside)
                part += line + QLatin1Char('\n');
        }
        return part;
    };
    QString unitPreamble;
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String("Each takes")))
            unitPreamble = line;
    }
    const QStringList unitCommands = {"connect", "send", "upload", "view", "readout", "scan",
                                      "pace-test", "trace"};
    const QStringList commands = {"list",    "check",  "edit",  "undo",     "redo",   "history",
                                  "print",   "export", "import", "convert", "run",    "connect",
                                  "send",    "upload", "view",  "readout",  "scan",   "simulate",
                                  "pace-test", "machine", "log", "trace"};
    const QRegularExpression option(QStringLiteral("--[a-z][a-z-]+"));
    for (const QString& command : commands) {
        SCOPED_TRACE(command.toStdString());
        QProcess help;
        help.start(QStringLiteral(KQMCTL_PATH), {command, QStringLiteral("--help")});
        ASSERT_TRUE(help.waitForFinished(30000));
        const QString usage = QString::fromUtf8(help.readAllStandardOutput() + help.readAllStandardError());
        QString part = partOf(command);
        ASSERT_FALSE(part.isEmpty()) << "no part of the manual page for " << command.toStdString();
        if (unitCommands.contains(command))
            part += unitPreamble;
        for (auto match = option.globalMatch(usage); match.hasNext();) {
            const QString named = match.next().captured();
            if (named == QLatin1String("--help"))
                continue;
            // The page writes an option bold: *--pace*.
            EXPECT_TRUE(part.contains(QLatin1Char('*') + named + QLatin1Char('*')))
                << named.toStdString() << " is not in the manual page's part for "
                << command.toStdString();
        }
    }
}

} // namespace
