#pragma once

#include "link/link_fixture.h"
#include "transfer/send_operation.h"
#include "transfer/upload.h"

#include <QTemporaryDir>

namespace kqm::test {

// A connected line of simulated units on the virtual clock, and what a
// send to the unit at the link's axis is aimed at.
struct LineFixture : LinkFixture {
    QTemporaryDir dir;

    LineFixture() { state.UnitConnected = true; }

    static QVector<program::ProgramRow> rows(const QStringList& commands) {
        QVector<program::ProgramRow> result;
        for (const QString& command : commands) {
            program::ProgramRow row;
            row.rowid = result.size() + 1;
            row.command = command;
            result.push_back(row);
        }
        return result;
    }

    transfer::SendTarget target(const QStringList& program, double pace, bool backup = true) {
        transfer::SendTarget target;
        target.send = transfer::prepareSend(rows(program), true, state.AxisAddress);
        target.send.pace = pace;
        target.device = port.deviceName();
        target.verify = true;
        target.backup = backup;
        target.backupDirectory = dir.filePath(QStringLiteral("backups"));
        target.model = state.UnitModel;
        return target;
    }

    // A program put straight into a unit, past the link.
    static void store(simulator::SimulatedUnit& unit, const QStringList& program) {
        const QByteArray prefix = "@" + QByteArray::number(unit.axis());
        QByteArray frames = prefix + "E0\r";
        for (const QString& command : program)
            frames += prefix + command.toLatin1() + '\r';
        unit.receive(frames);
    }
    // What a unit holds, in the upload's terms.
    static QStringList heldBy(const simulator::SimulatedUnit& unit) {
        return transfer::parseUploadReply(QString::fromLatin1(unit.uploadReply())).commands;
    }
};

} // namespace kqm::test
