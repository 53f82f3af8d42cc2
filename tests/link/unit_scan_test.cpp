#include "link/connection.h"
#include "link/unit_scan.h"
#include "link_fixture.h"

#include <gtest/gtest.h>

#include <QMap>

#include <functional>

using namespace kqm;
using link::FoundUnit;
using simulator::SimulatedUnit;

namespace {

// The line of every case: a KQM20 at 0, a KQM21 at 3 and a KQM20 at 7.
struct ScanCase {
    const char* name;
    std::function<void(simulator::SimulatedPort&)> fault;
    QList<int> axes; // that the scan reports
};

TEST(UnitScan, FindsTheUnitsOnTheLineAndOnlyThem) {
    const auto late = [](double delay, QList<int> extra) {
        return [delay, extra](simulator::SimulatedPort& port) {
            port.line().unitAt(3)->faults().replyDelay = delay;
            for (const int axis : extra)
                port.addUnit(QStringLiteral("KQM20"), axis).faults().replyDelay = delay;
        };
    };
    const QList<ScanCase> cases = {
        {"three units", [](auto&) {}, {0, 3, 7}},
        {"a silent line",
         [](simulator::SimulatedPort& port) {
             for (int i = 0; i < port.line().unitCount(); ++i)
                 port.line().unit(i).faults().silent = true;
         },
         {}},
        {"garbage from one unit",
         [](auto& port) { port.line().unitAt(3)->faults().garbage = true; },
         {0, 7}},
        {"slow units, answering after 0.3 s", late(0.3, {4, 5}), {0, 3, 4, 5, 7}},
        {"slow units, answering after 0.45 s", late(0.45, {4, 5}), {0, 3, 4, 5, 7}},
        {"slow units, answering after 0.49 s", late(0.49, {4}), {0, 3, 4, 7}},
        {"answers in bursts",
         [](auto& port) {
             port.line().unitAt(7)->faults().burstSize = 3;
             port.line().unitAt(7)->faults().burstGap = 0.05;
         },
         {0, 3, 7}},
        {"stale text waiting when the port opens",
         [](auto& port) { port.unit().faults().staleOnOpen = "KQM21  9.99\r"; },
         {0, 3, 7}},
        {"a line that keeps sending",
         [](auto& port) { port.unit().faults().noiseRate = 2000; },
         {}},
    };
    for (const ScanCase& scanCase : cases) {
        SCOPED_TRACE(scanCase.name);
        const bool floods = QByteArray(scanCase.name).contains("keeps sending");
        test::LinkFixture fixture;
        simulator::SimulatedPort& port = fixture.port;
        port.addUnit(QStringLiteral("KQM21"), 3);
        port.addUnit(QStringLiteral("KQM20"), 7);
        scanCase.fault(port);
        port.Close();
        port.open();
        // A unit that is running goes on running.
        port.Output("@7S\r");
        port.clearWrites();

        QList<int> asked;
        link::ScanResult result;
        {
            link::Link::Exchange exchange(fixture.deviceLink);
            result = link::scanUnits(fixture.deviceLink,
                                     [&](int axis, const FoundUnit*) { asked << axis; });
        }
        QList<int> axes;
        for (const FoundUnit& unit : result.units)
            axes << unit.axis;
        EXPECT_EQ(axes, scanCase.axes);
        EXPECT_EQ(result.completed, !floods);
        EXPECT_EQ(result.failure.isEmpty(), !floods) << result.failure.toStdString();
        EXPECT_TRUE(port.line().unitAt(7)->moving());
        // A silent address costs its quit and a second question.
        EXPECT_LT(fixture.clock.now(), 60.0);
        if (floods) {
            EXPECT_FALSE(port.PortOpen());
            continue;
        }
        // Every address in order, each question after a lone CR; an address
        // that stayed silent gets the quit that ends a program entry left
        // open, then the question again. Nothing else goes out, and no unit
        // that answered gets a quit.
        QByteArray frames;
        const QByteArray written = port.written();
        for (int axis = 0; axis <= 31; ++axis) {
            const QByteArray ask = "\r@" + QByteArray::number(axis) + "$\r";
            const QByteArray again = "\r@" + QByteArray::number(axis) + "Q\r" + ask;
            frames += ask;
            if (written.mid(frames.size()).startsWith(again))
                frames += again;
        }
        EXPECT_EQ(written, frames);
        for (const int axis : axes)
            EXPECT_FALSE(written.contains("@" + QByteArray::number(axis) + "Q")) << axis;
        EXPECT_EQ(asked.last(), 31);
    }
}

// On a connected line the scan ends by naming the connected unit again, so
// that a request without an address (the upload's) goes to it, not to 31.
TEST(UnitScan, TheConnectedUnitIsNamedLast) {
    test::LinkFixture fixture;
    fixture.port.addUnit(QStringLiteral("KQM21"), 31);
    fixture.state.UnitConnected = true;
    fixture.state.AxisAddress = QStringLiteral("0");
    fixture.port.Output("@0E0\r@0A10\r@0Q\r"); // unit 0 holds a program, 31 none
    {
        link::Link::Exchange exchange(fixture.deviceLink);
        ASSERT_TRUE(link::scanUnits(fixture.deviceLink, {}).completed);
    }
    EXPECT_TRUE(fixture.port.written().endsWith("@31$\r@0$\r"));
    fixture.port.Output("VE\r");
    fixture.clock.Delay(0.5);
    EXPECT_EQ(fixture.port.Input(), QByteArray("A10\rQ\r*"));
}

TEST(UnitScan, ReadsModelAndRevisionAsIdentificationDoes) {
    test::LinkFixture fixture;
    fixture.port.unit().setModel(QStringLiteral("KQM21"));
    fixture.port.addUnit(QStringLiteral("KQM20"), 31);
    link::ScanResult result;
    {
        link::Link::Exchange exchange(fixture.deviceLink);
        result = link::scanUnits(fixture.deviceLink);
    }
    EXPECT_EQ(result.units, (QList<FoundUnit>{{0, "KQM21", "1.65"}, {31, "KQM20", "1.65"}}));

    for (const auto& [reply, model, revision] :
         std::initializer_list<std::tuple<const char*, const char*, const char*>>{
             {"KQM20  1.65\r", "KQM20", "1.65"},
             {"KQM21  2.0\r", "KQM21", "2.0"},
             {"KQM20", "KQM20", ""},
             {"kqm20  1.65\r", nullptr, nullptr},
             {" KQM20  1.65\r", nullptr, nullptr},
             {"KQM22  1.65\r", nullptr, nullptr},
             {"", nullptr, nullptr}}) {
        const auto version = link::unitVersionOf(QString::fromLatin1(reply));
        ASSERT_EQ(version.has_value(), model != nullptr) << reply;
        if (version) {
            EXPECT_EQ(version->model, QLatin1String(model));
            EXPECT_EQ(version->revision, QLatin1String(revision));
        }
    }
}

TEST(UnitScan, EndsWhenStoppedOrWhenThePortGoes) {
    test::LinkFixture fixture;
    fixture.port.addUnit(QStringLiteral("KQM20"), 9);
    link::ScanResult result;
    {
        link::Link::Exchange exchange(fixture.deviceLink);
        result = link::scanUnits(fixture.deviceLink, [&](int axis, const FoundUnit*) {
            if (axis == 4)
                fixture.deviceLink.exchanges().requestStop();
        });
    }
    EXPECT_FALSE(result.completed);
    EXPECT_TRUE(result.failure.isEmpty());
    EXPECT_EQ(result.units.size(), 1);
    EXPECT_FALSE(fixture.port.written().contains("@5$"));

    // Stopped on a connected line, it still names the connected unit last.
    fixture.state.UnitConnected = true;
    fixture.state.AxisAddress = QStringLiteral("9");
    fixture.port.clearWrites();
    {
        link::Link::Exchange exchange(fixture.deviceLink);
        link::scanUnits(fixture.deviceLink, [&](int axis, const FoundUnit*) {
            if (axis == 2)
                fixture.deviceLink.exchanges().requestStop();
        });
    }
    EXPECT_TRUE(fixture.port.written().endsWith("@2$\r@9$\r"));
    EXPECT_EQ(fixture.deviceLink.farEnd().addressedAxis(), QStringLiteral("9"));
    fixture.state.UnitConnected = false;

    {
        link::Link::Exchange exchange(fixture.deviceLink);
        result = link::scanUnits(fixture.deviceLink, [&](int axis, const FoundUnit*) {
            if (axis == 2)
                fixture.port.unplug();
        });
    }
    EXPECT_FALSE(result.completed);
    EXPECT_TRUE(result.failure.contains(QStringLiteral("unplugged")))
        << result.failure.toStdString();
}

} // namespace
