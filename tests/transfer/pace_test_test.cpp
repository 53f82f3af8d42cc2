#include "transfer/line_fixture.h"

#include "program/listing.h"
#include "support/fake_messages.h"
#include "transfer/pace_test.h"
#include "transfer/proven_pace.h"
#include "transfer/transfer_log.h"

#include <gtest/gtest.h>

namespace {

using kqm::test::LineFixture;
using namespace kqm::transfer;

TEST(PaceTest, TheTestProgramFillsTheMemoryAndThePacesKeepTheLinesRule) {
    auto rows = paceTestProgram();
    kqm::test::FakeMessages messages;
    const auto listing = kqm::program::computeListing(rows, messages);
    EXPECT_EQ(listing.programSize, 2047);
    EXPECT_TRUE(listing.programFits);
    EXPECT_EQ(rows.last().command, "Q");
    // Last, the line's own limit: characters back to back.
    EXPECT_EQ(paceTestPaces(19200), (QList<double>{0.02, 0.01, 0.005, 0.002, 0.0}));
    // At 9600 baud two characters take 2.08 ms: 0.002 s would be too short.
    EXPECT_EQ(paceTestPaces(9600), (QList<double>{0.02, 0.01, 0.005, 0.0021, 0.0}));
    EXPECT_EQ(paceTestPaces(1200), (QList<double>{0.02, 0.0167, 0.0}));
}

// Against receivers that lose characters closer together than their
// interval, the test settles on the fastest pace each takes, keeps it for
// that unit, and leaves the unit's own program as it found it.
TEST(PaceTest, SettlesOnTheFastestPaceTheReceiverTakes) {
    struct Case {
        double receiver;
        std::optional<double> fastest;
        int trials; // two for each pace that verified, one for the pace that failed
    };
    for (const Case& c :
         {Case{0.0, 0.0, 10}, Case{0.001, 0.0021, 9}, Case{0.004, 0.005, 7}, Case{0.008, 0.01, 5},
          Case{0.015, 0.02, 3}, Case{0.03, std::nullopt, 1}}) {
        SCOPED_TRACE(c.receiver);
        LineFixture line;
        line.store(line.port.unit(), {"A5", "W3", "Q"});
        line.port.unit().faults().slowReceiver = c.receiver;
        PaceTestOptions options;
        options.backupDirectory = line.dir.filePath("backups");
        options.provenPacesFile = line.dir.filePath("proven-paces.json");
        options.logFile = line.dir.filePath("transfer-log.jsonl");
        // A pace proven before is replaced, or forgotten when none holds now.
        const PaceKey key{line.port.deviceName(), 0, "KQM20", line.state.UnitRevision, 9600};
        QString error;
        ASSERT_TRUE(keepProvenPace(options.provenPacesFile, key, 0.0021, &error));
        const PaceTestReport report = runPaceTest(line.deviceLink, line.clock, options, {});
        EXPECT_EQ(report.fastest, c.fastest);
        EXPECT_EQ(report.trials.size(), c.trials);
        EXPECT_TRUE(report.restored) << report.message.toStdString();
        EXPECT_EQ(LineFixture::heldBy(line.port.unit()), (QStringList{"A5", "W3", "Q"}));
        EXPECT_EQ(provenPace(options.provenPacesFile, key), c.fastest);
        // Every trial and the restore are in the transfer log.
        EXPECT_EQ(readTransferLog(options.logFile).size(), c.trials + 1);
    }
}

// A proven pace holds for its unit only: another port, axis, model or
// revision has none, and proving again replaces it.
TEST(PaceTest, AProvenPaceBelongsToItsUnit) {
    QTemporaryDir dir;
    const QString file = dir.filePath("proven-paces.json");
    const PaceKey unit{"/dev/ttyUSB0", 3, "KQM20", "1.65", 9600};
    QString error;
    ASSERT_TRUE(keepProvenPace(file, unit, 0.005, &error)) << error.toStdString();
    ASSERT_TRUE(keepProvenPace(file, {"/dev/ttyUSB0", 4, "KQM21", "1.2", 9600}, 0.01, &error));
    EXPECT_EQ(provenPace(file, unit), 0.005);
    for (const PaceKey& other :
         {PaceKey{"/dev/ttyUSB1", 3, "KQM20", "1.65"}, PaceKey{"/dev/ttyUSB0", 5, "KQM20", "1.65"},
          PaceKey{"/dev/ttyUSB0", 3, "KQM21", "1.65"}, PaceKey{"/dev/ttyUSB0", 3, "KQM20", "1.66"},
          PaceKey{"/dev/ttyUSB0", 3, "KQM20", "1.65", 19200}})
        EXPECT_EQ(provenPace(file, other), std::nullopt);
    ASSERT_TRUE(keepProvenPace(file, unit, 0.0021, &error));
    EXPECT_EQ(provenPace(file, unit), 0.0021);
    EXPECT_EQ(provenPace(file, {"/dev/ttyUSB0", 4, "KQM21", "1.2", 9600}), 0.01);
}

// Stop during a trial ends the trials; the unit's program still goes back.
TEST(PaceTest, StopEndsTheTrialsAndTheUnitGetsItsProgramBack) {
    LineFixture line;
    line.store(line.port.unit(), {"B600", "Q"});
    PaceTestOptions options;
    options.backupDirectory = line.dir.filePath("backups");
    PaceTestCallbacks callbacks;
    int trial = 0;
    callbacks.trialStarted = [&](double, int) {
        ++trial;
    };
    callbacks.progress = [&](int done, int) {
        if (trial == 3 && done == 500)
            line.deviceLink.stopMotion();
    };
    const PaceTestReport report = runPaceTest(line.deviceLink, line.clock, options, callbacks);
    EXPECT_EQ(report.trials.size(), 3);
    EXPECT_EQ(report.fastest, 0.02);
    EXPECT_TRUE(report.restored);
    EXPECT_TRUE(report.message.startsWith("The pace test was stopped."));
    EXPECT_EQ(LineFixture::heldBy(line.port.unit()), (QStringList{"B600", "Q"}));
}

} // namespace
