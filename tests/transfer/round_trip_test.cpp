#include "../link/link_fixture.h"
#include "dryrun/unit_run.h"
#include "program/command_set.h"
#include "transfer/send.h"
#include "transfer/upload.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <random>

using namespace kqm;
using program::ProgramRow;

namespace {

// A random program of the kind the command editor writes, ending in Quit;
// loops branch to the first address of one of its lines.
QVector<ProgramRow> randomProgram(std::mt19937& random) {
    const auto number = [&random](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    const int count = number(1, 30);
    QStringList commands;
    QList<int> loopTargets; // line index of each loop's target, in order
    for (int i = 0; i < count; ++i) {
        switch (number(0, 18)) {
        case 0:
            commands << QStringLiteral("A%1").arg(number(1, 255));
            break;
        case 1:
            commands << QStringLiteral("B%1").arg(number(70, 5000));
            break;
        case 2:
            commands << QStringLiteral("M%1").arg(number(70, 20000));
            break;
        case 3:
            // A "G" after a registration index is taken into it by the unit.
            if (!commands.isEmpty() && commands.last().startsWith(QLatin1Char('N')) &&
                !commands.last().contains(QLatin1Char('G')))
                commands << QStringLiteral("S");
            else
                commands << QStringLiteral("G");
            break;
        case 4:
            commands << QStringLiteral("S");
            break;
        case 5:
            commands << QStringLiteral(".");
            break;
        case 6:
            commands << QStringLiteral("F");
            break;
        case 7:
            commands << QStringLiteral("N%1\r@0G").arg(number(0, 8388607));
            break;
        case 8:
            commands << QStringLiteral("P%1\r@0G").arg(number(0, 8388607));
            break;
        case 9:
            commands << QStringLiteral("N%1").arg(number(0, 8388607));
            break;
        case 10:
            commands << QStringLiteral("Z%1").arg(number(0, 8388607));
            break;
        case 11:
            commands << (number(0, 1) ? QStringLiteral("+") : QStringLiteral("-"));
            break;
        case 12:
            commands << (number(0, 1) ? QStringLiteral("H0") : QStringLiteral("H1"));
            break;
        case 13:
            commands << QStringLiteral("O%1").arg(number(0, 3));
            break;
        case 14:
            commands << QStringLiteral("?%1").arg(number(0, 15));
            break;
        case 15:
            loopTargets << number(0, count);
            commands << QStringLiteral("&@_%1").arg(number(1, 255));
            break;
        case 16:
            commands << QStringLiteral("X%1").arg(number(0, 2057));
            break;
        default:
            commands << QStringLiteral("W%1").arg(number(1, 10000));
            break;
        }
    }
    commands << QStringLiteral("Q");
    QList<int> addresses;
    int address = 0;
    for (const QString& command : commands) {
        addresses << address;
        address += *program::knownCommandSize(command);
    }
    QVector<ProgramRow> rows;
    for (QString command : commands) {
        if (command.startsWith(QLatin1String("&@")))
            command.replace(1, 1, QString::number(addresses.at(loopTargets.takeFirst())));
        ProgramRow row;
        row.command = command;
        rows << row;
    }
    return rows;
}

QStringList commandsOf(const QVector<ProgramRow>& rows) {
    QStringList commands;
    for (const ProgramRow& row : rows)
        commands << row.command;
    return commands;
}

// Send, upload, send again: the second send puts the same bytes on the
// wire as the first, and the second upload equals the first. The unit knows
// addresses only, so this holds only if every stored form goes out in the
// editor's wire form.
TEST(RoundTrip, SendUploadSendAgainOverRandomPrograms) {
    std::mt19937 random(20261208);
    for (int trial = 0; trial < 150; ++trial) {
        const QVector<ProgramRow> program = randomProgram(random);
        SCOPED_TRACE(commandsOf(program).join(QLatin1Char('|')).toStdString());
        test::LinkFixture unit;
        unit.state.UnitConnected = true;
        const auto sendAndUpload = [&unit](const QVector<ProgramRow>& rows, QByteArray* wire) {
            const transfer::PreparedSend prepared = transfer::prepareSend(rows, "0");
            EXPECT_FALSE(prepared.refusal.has_value());
            unit.port.clearWrites();
            EXPECT_EQ(transfer::sendProgram(unit.deviceLink, prepared, {}).outcome,
                      transfer::SendOutcome::Sent);
            *wire = unit.port.written();
            const transfer::UploadReport uploaded =
                transfer::runUpload(unit.deviceLink, unit.messages, {});
            EXPECT_TRUE(uploaded.uploaded.responded) << uploaded.message.toStdString();
            return uploaded.uploaded.built.rows;
        };
        QByteArray firstWire;
        QByteArray secondWire;
        const auto firstUpload = sendAndUpload(program, &firstWire);
        const auto secondUpload = sendAndUpload(firstUpload, &secondWire);
        ASSERT_EQ(secondWire, firstWire);
        ASSERT_EQ(commandsOf(secondUpload), commandsOf(firstUpload));
        ASSERT_EQ(firstUpload.size(), program.size());
        EXPECT_TRUE(unit.messages.boxes().isEmpty())
            << unit.messages.texts().join('|').toStdString();
    }
}

// Where the executed moves add up to, read from the run's trace alone: a go
// moves by its steps in the direction of the moment, or to its position; G
// repeats the last; Z and home put the position where they say.
qint64 sumOfMoves(const dryrun::Executor& run) {
    qint64 position = run.settings().position;
    bool clockwise = run.settings().clockwise;
    std::optional<qint64> target;
    std::optional<std::pair<bool, qint64>> last; // absolute?, operand
    qint64 registration = 0;
    const auto apply = [&](bool absolute, qint64 operand) {
        last = std::make_pair(absolute, operand);
        position = absolute ? operand : position + (clockwise ? operand : -operand);
    };
    for (const dryrun::ExecutedLine& line : run.executed()) {
        const dryrun::RunStep& step = run.steps().at(line.step);
        const qint64 operand = step.operands[0];
        switch (step.letter) {
        case '+':
        case '-':
            clockwise = step.letter == '+';
            break;
        case 'Z':
            position = operand;
            break;
        case 'H':
            position = run.settings().home;
            break;
        case 'N':
            if (step.go)
                apply(false, operand);
            else
                registration = operand;
            break;
        case 'P':
            if (step.go)
                apply(true, operand);
            else
                target = operand;
            break;
        case 'G':
            if (target)
                apply(true, *std::exchange(target, std::nullopt));
            else
                apply(last ? last->first : false, last ? last->second : registration);
            break;
        default:
            break;
        }
    }
    return position;
}

// Programs of the editor's commands, sent over the line: the executor runs
// the same lines, in the same order, at the same times, whether it reads the
// rows or what the unit stored; where a run ends at Quit the motor rests
// where the executed moves add up to; and the unit told to run its program
// comes to rest at the same place with the same outputs.
TEST(RoundTrip, TheUnitRunsWhatTheRowsSay) {
    std::mt19937 random(25);
    int quits = 0;
    int watched = 0;
    for (int trial = 0; trial < 120; ++trial) {
        QVector<ProgramRow> program = randomProgram(random);
        // A slew or a stop cuts a move where time puts it: leave them out.
        // Gotos land on a later line and loops count to 3 at most, so that
        // most runs come to their Quit.
        QList<int> starts;
        int address = 0;
        for (const ProgramRow& row : std::as_const(program)) {
            starts << address;
            address += *program::knownCommandSize(row.command);
        }
        for (qsizetype i = 0; i < program.size(); ++i) {
            QString& command = program[i].command;
            if (command == QLatin1String("S") || command == QLatin1String("."))
                command = QStringLiteral("F");
            if (command.startsWith(QLatin1Char('X')))
                command = QStringLiteral("X%1").arg(starts.at(std::uniform_int_distribution<int>(
                    static_cast<int>(i) + 1, static_cast<int>(starts.size()) - 1)(random)));
            // Moves of seconds, not of days, so that the unit can be watched.
            if (QStringLiteral("NPZ").contains(command.at(0)))
                command.replace(QRegularExpression(QStringLiteral("^(.)(\\d+)")),
                                QStringLiteral("\\1") +
                                    QString::number(program::OperandField(command, 0) % 20000));
            if (command.startsWith(QLatin1Char('&')))
                command = command.left(command.indexOf(QLatin1Char('_')) + 1) +
                          QString::number(std::uniform_int_distribution<int>(1, 3)(random));
        }
        SCOPED_TRACE(commandsOf(program).join(QLatin1Char('|')).toStdString());
        test::LinkFixture unit;
        unit.state.UnitConnected = true;
        const transfer::PreparedSend prepared = transfer::prepareSend(program, "0");
        ASSERT_EQ(transfer::sendProgram(unit.deviceLink, prepared, {}).outcome,
                  transfer::SendOutcome::Sent);
        dryrun::RunSettings settings;
        settings.record = true;
        settings.limit = 1e6; // the slowest move of the widest range takes a day
        dryrun::Executor fromRows(dryrun::stepsFromCommands(commandsOf(program)), settings);
        dryrun::Executor fromUnit(dryrun::stepsOfStoredLines(unit.port.unit().storedLines()),
                                  settings);
        fromRows.run();
        fromUnit.run();
        ASSERT_EQ(fromRows.executed().size(), fromUnit.executed().size());
        for (qsizetype i = 0; i < fromRows.executed().size(); ++i) {
            const auto& a = fromRows.executed().at(i);
            const auto& b = fromUnit.executed().at(i);
            ASSERT_EQ(std::tie(a.step, a.position, a.outputs),
                      std::tie(b.step, b.position, b.outputs))
                << "executed line " << i;
            ASSERT_DOUBLE_EQ(a.at, b.at);
        }
        EXPECT_EQ(dryrun::runEndName(fromRows.end()), dryrun::runEndName(fromUnit.end()));
        if (fromRows.end() != dryrun::RunEnd::Quit)
            continue;
        ++quits;
        EXPECT_EQ(fromRows.restingPosition(), sumOfMoves(fromRows));
        // The unit, on the virtual clock, for the runs that end within a minute.
        simulator::SimulatedUnit& stored = unit.port.unit();
        stored.receive("@0R0\r");
        double restAt = fromRows.now();
        for (const dryrun::MotionProfile& move : fromRows.moves())
            restAt = std::max(restAt, move.end());
        if (restAt > 60)
            continue;
        ++watched;
        unit.clock.advance(restAt + 0.01);
        EXPECT_FALSE(stored.running());
        EXPECT_EQ(stored.position(), fromRows.restingPosition());
        EXPECT_EQ(stored.outputs(), fromRows.outputs());
    }
    // Enough runs reach Quit, and the unit, for the last checks to mean something.
    EXPECT_GT(quits, 100);
    EXPECT_GT(watched, 80);
}

} // namespace
