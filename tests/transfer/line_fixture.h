#pragma once

#include "link/link_fixture.h"
#include "transfer/send_operation.h"
#include "transfer/upload.h"

#include <QTemporaryDir>

#include <stdexcept>

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

    // A send of the program to the unit at the link's axis, the pace asked
    // for as kqmctl --pace asks it.
    transfer::SendRequest request(const QStringList& program, double pace, bool backup = true,
                                  const transfer::SendPlaces& places = {}) {
        transfer::SendChoice choice;
        choice.backup = backup;
        choice.backupDirectory = dir.filePath(QStringLiteral("backups"));
        choice.pace = transfer::PaceRequest::asking(pace);
        const auto made =
            transfer::requestSend(deviceLink,
                                  transfer::SendProgram::fromRows(
                                      rows(program), QStringLiteral("(test)"), state.AxisAddress),
                                  choice, places);
        if (!made.request)
            throw std::runtime_error(made.refusal->text.toStdString());
        return *made.request;
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
