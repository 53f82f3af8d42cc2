#include "link/connection.h"
#include "link/readout.h"
#include "link_fixture.h"
#include "transfer/send.h"
#include "transfer/upload.h"
#include "transfer/view.h"

#include <gtest/gtest.h>

#include <functional>

using namespace kqm;

namespace {

struct NullView final : link::ReadoutView {
    void setLabel(Label, const QString&) override {}
    void setInputs(int) override {}
};

// A line that keeps sending, as a flood or one byte every 50 ms: every
// exchange that reads a reply ends within its deadline, closes the port and
// says that the line keeps sending.
TEST(FloodedLine, EveryExchangeEndsWithinItsDeadline) {
    const struct {
        const char* name;
        std::function<bool(test::LinkFixture&)> exchange;
        double deadline; // virtual seconds
    } exchanges[] = {
        {"identification",
         [](test::LinkFixture& f) {
             link::Connection connection(f.deviceLink);
             f.port.Close();
             return connection.connectTo(9600, 1);
         },
         5.0},
        {"readout",
         [](test::LinkFixture& f) {
             NullView view;
             link::runReadout(f.deviceLink, view);
             return !f.deviceLink.flooded();
         },
         5.0},
        {"view",
         [](test::LinkFixture& f) { return transfer::readUnitListing(f.deviceLink).endedWithQ; },
         17.0},
        {"upload",
         [](test::LinkFixture& f) {
             return transfer::readUnitProgram(f.deviceLink, &f.messages).responded;
         },
         17.0},
    };
    for (const double rate : {1.0e6, 20.0}) {
        for (const auto& e : exchanges) {
            SCOPED_TRACE(std::string(e.name) + (rate > 100 ? " flood" : " drip"));
            test::LinkFixture f;
            f.state.UnitConnected = true;
            f.port.unit().faults().noiseRate = rate;
            const double start = f.clock.now();
            EXPECT_FALSE(e.exchange(f));
            EXPECT_LE(f.clock.now() - start, e.deadline);
            EXPECT_FALSE(f.port.PortOpen());
            EXPECT_FALSE(f.state.UnitConnected);
            const QString said = link::lineKeepsSendingMessage(f.port.deviceName());
            EXPECT_EQ(f.state.LastCommError, said);
            if (std::string(e.name) == "upload") {
                EXPECT_EQ(f.messages.texts(), QStringList{said});
            }
        }
    }
}

// A send reads nothing: what arrives meanwhile is dropped, not kept.
TEST(FloodedLine, ASendDropsWhatArrives) {
    test::LinkFixture f;
    f.port.unit().faults().noiseRate = 1.0e6;
    QVector<program::ProgramRow> rows(20);
    for (auto& row : rows)
        row.command = QStringLiteral("W10");
    rows.last().command = QStringLiteral("Q");
    int largest = 0;
    const auto prepared = transfer::prepareSend(rows, "0");
    transfer::sendProgram(f.deviceLink, prepared, [&f, &largest](int, QChar) {
        largest = std::max(largest, f.port.InBufferCount());
    });
    EXPECT_LT(largest, 200 * 1024); // a tenth of a second of noise, never more
}

} // namespace
