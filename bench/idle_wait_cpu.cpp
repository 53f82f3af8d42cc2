// Measures the processor time the process uses while the link waits: a
// 5-second Delay, and a 2-second identification of the simulated unit.
#include "link/connection.h"
#include "link/link.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "simulator/simulated_port.h"

#include <QCoreApplication>

#include <cstdio>
#include <ctime>

namespace {

class QuietMessages final : public kqm::platform::Messages {
public:
    kqm::platform::MessageAnswer show(kqm::platform::MessageIcon, const QString&,
                                      kqm::platform::MessageButtons) override {
        return kqm::platform::MessageAnswer::Ok;
    }
};

template <typename Work> void measure(const char* what, Work work) {
    kqm::platform::SystemClock wall;
    const std::clock_t cpuStart = std::clock();
    const double start = wall.now();
    work();
    const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    const double elapsed = wall.now() - start;
    std::printf("%-40s %6.2f s elapsed, %6.3f s processor time (%.1f %%)\n", what, elapsed, cpu,
                100.0 * cpu / elapsed);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    kqm::platform::SystemClock clock;
    measure("Delay(5)", [&] { clock.Delay(5.0); });

    QuietMessages messages;
    kqm::simulator::SimulatedPort port(clock);
    kqm::link::LinkState state;
    kqm::link::Link link(port, clock, messages, state);
    kqm::link::Connection connection(link);
    measure("identification of the simulated unit", [&] {
        connection.OpenComPort(9600, 1);
        connection.IdentifyUnit(QStringLiteral("0"));
    });
    measure("ReadReply with a silent unit (x4)", [&] {
        port.unit().faults().silent = true;
        for (int i = 0; i < 4; ++i)
            link.ReadReply();
    });
    return 0;
}
