#include "../link/link_fixture.h"
#include "program/command_set.h"
#include "transfer/send.h"
#include "transfer/upload.h"

#include <gtest/gtest.h>

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
            const transfer::PreparedSend prepared = transfer::prepareSend(rows, true, "0");
            EXPECT_FALSE(prepared.refusal.has_value());
            unit.port.clearWrites();
            EXPECT_EQ(transfer::sendProgram(unit.deviceLink, prepared, {}).outcome,
                      transfer::SendOutcome::Sent);
            *wire = unit.port.written();
            const transfer::UploadReport uploaded = transfer::runUpload(unit.deviceLink);
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

} // namespace
