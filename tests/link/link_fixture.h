#pragma once

#include "dryrun/unit_run.h"
#include "link/link.h"
#include "platform/virtual_clock.h"
#include "simulator/simulated_port.h"
#include "support/fake_messages.h"

#include <QSignalSpy>

namespace kqm::test {

// A link to the simulated unit on the virtual clock, with the port open.
struct LinkFixture {
    platform::VirtualClock clock;
    FakeMessages messages;
    simulator::SimulatedPort port{clock};
    link::LinkState state;
    link::Link deviceLink{port, clock, messages, state};

    LinkFixture() {
        port.line().setProgramRunner(dryrun::unitProgramRunner());
        port.open();
    }

    // Times at which the given bytes were written, in order.
    QList<double> timesOf(const QByteArray& bytes) const {
        QList<double> times;
        for (const auto& write : port.writes()) {
            if (bytes.contains(write.byte))
                times << write.at;
        }
        return times;
    }
};

} // namespace kqm::test
