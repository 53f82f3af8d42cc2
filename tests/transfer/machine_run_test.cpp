#include "transfer/line_fixture.h"

#include "files/machine_file.h"
#include "support/program_files.h"
#include "transfer/machine_run.h"

#include <gtest/gtest.h>

namespace {

using kqm::test::LineFixture;
using namespace kqm::transfer;

// Three units on the virtual line, the user's own at axis 0.
struct MachineLine : LineFixture {
    kqm::simulator::SimulatedUnit& first = port.addUnit(QStringLiteral("KQM20"), 1);
    kqm::simulator::SimulatedUnit& second = port.addUnit(QStringLiteral("KQM20"), 2);
    kqm::files::Machine machine;

    MachineLine() {
        kqm::test::WriteProgramFile(dir.filePath("p.mdb"), {{"A10"}, {"W5"}, {"Q"}});
        for (const int axis : {1, 2, 5})
            machine.units << kqm::files::MachineUnit{axis, dir.filePath("p.mdb"), std::nullopt};
        state.AxisAddress = QStringLiteral("0");
        state.UnitRevision = QStringLiteral("1.65");
    }
    QStringList states(const QList<MachineUnitResult>& results) const {
        QStringList names;
        for (const MachineUnitResult& result : results)
            names << unitStateName(result.status.state);
        return names;
    }
};

// A check asks each unit its version only: no stop frame reaches any unit,
// and nothing in any unit changes. The user's axis is current again after.
TEST(MachineRun, ACheckStopsNoUnitAndChangesNothing) {
    MachineLine line;
    line.store(line.first, {"A10", "W5", "Q"});
    line.store(line.second, {"B600", "Q"});
    const qsizetype before = line.port.writeCount();
    const auto results = runMachine(line.deviceLink, line.machine, {}, {}, line.messages);
    EXPECT_EQ(line.states(results), (QStringList{"in-step", "differs", "no-unit"}));
    QByteArray wire;
    for (const auto& write : line.port.writesSince(before))
        wire += write.byte;
    for (const char* stop : {"@1.", "@2.", "@5.", "@0.", "@1!", "@2!"})
        EXPECT_FALSE(wire.contains(stop)) << stop << " in " << wire.toStdString();
    EXPECT_EQ(LineFixture::heldBy(line.second), (QStringList{"B600", "Q"}));
    EXPECT_EQ(line.state.AxisAddress, "0");
    EXPECT_TRUE(line.state.UnitConnected);
}

// A unit of the other model says which the file names and which it is;
// Send All stops there, and the units after it say why they were not sent.
TEST(MachineRun, AWrongModelSaysWhichAndStopsSendAll) {
    MachineLine line;
    line.store(line.first, {"B600", "Q"});
    line.machine.units[0].model = QStringLiteral("KQM21");
    MachineRunOptions options;
    options.send = true;
    options.places.backupRoot = line.dir.filePath("backups");
    const auto results = runMachine(line.deviceLink, line.machine, options, {}, line.messages);
    EXPECT_EQ(line.states(results), (QStringList{"wrong-model", "not-checked", "not-checked"}));
    EXPECT_EQ(results.at(0).status.detail, "the file names a KQM21, the unit is a KQM20");
    EXPECT_EQ(results.at(1).status.detail, "not sent: Send All stopped at axis 1 (wrong model)");
    EXPECT_EQ(machineSummary(results), "1 wrong model, 2 not checked");
    EXPECT_EQ(LineFixture::heldBy(line.first), (QStringList{"B600", "Q"}));
}

// --all sends a unit in step again; a send that does not verify leaves the
// unit "differs", not "in step", and ends the run unless told to go on.
TEST(MachineRun, ASendThatFailsIsNeverInStep) {
    for (const bool keepGoing : {false, true}) {
        SCOPED_TRACE(keepGoing);
        MachineLine line;
        line.store(line.first, {"A10", "W5", "Q"});
        line.store(line.second, {"A10", "W5", "Q"});
        line.first.faults().slowReceiver = 0.05; // loses characters at 0.01 s
        MachineRunOptions options;
        options.send = true;
        options.all = true;
        options.keepGoing = keepGoing;
        options.pace = PaceRequest::asking(0.01);
        options.places.backupRoot = line.dir.filePath("backups");
        const auto results = runMachine(line.deviceLink, line.machine, options, {}, line.messages);
        EXPECT_EQ(line.states(results).at(0), "differs");
        EXPECT_FALSE(machineInStep(results));
        if (keepGoing) {
            EXPECT_EQ(line.states(results), (QStringList{"differs", "in-step", "no-unit"}));
            EXPECT_TRUE(results.at(1).sent);
        } else {
            EXPECT_EQ(results.at(1).status.detail, "not sent: Send All stopped at axis 1 (differs)");
            EXPECT_FALSE(results.at(1).sent);
        }
    }
}

// A unit that answers its version but not the read-back, or answers it
// at the very end of its half second, is that unit's state: the port stays
// open and every later unit is checked and sent. A unit left storing frames
// by a cut-off send is reached again and said to need its program.
TEST(MachineRun, EachUnitGetsItsOwnOutcome) {
    for (const bool keepGoing : {false, true}) {
        SCOPED_TRACE(keepGoing);
        MachineLine line;
        kqm::simulator::SimulatedUnit& third = line.port.addUnit(QStringLiteral("KQM20"), 5);
        line.first.faults().replyBudget = 12; // "KQM20  1.65" and CR, then silence
        line.second.faults().replyDelay = 0.5;
        line.store(line.second, {"A10", "W5", "Q"});
        third.receive("\r@5E0\r@5B7"); // a send to it was cut off
        MachineRunOptions options;
        options.send = true;
        options.keepGoing = keepGoing;
        options.places.backupRoot = line.dir.filePath("backups");
        const auto results = runMachine(line.deviceLink, line.machine, options, {}, line.messages);
        EXPECT_TRUE(line.deviceLink.isPortOpen());
        EXPECT_EQ(line.states(results).at(0), "no-unit");
        for (const auto& result : results)
            EXPECT_FALSE(result.status.detail.contains("port closed"))
                << result.status.detail.toStdString();
        if (!keepGoing)
            continue;
        EXPECT_EQ(line.states(results), (QStringList{"no-unit", "in-step", "in-step"}));
        EXPECT_TRUE(results.at(2).sent);
        EXPECT_FALSE(third.inProgramEntry());
        EXPECT_EQ(LineFixture::heldBy(third), (QStringList{"A10", "W5", "Q"}));
    }
}

} // namespace
