// Measures the processor time of following a moving motor's position: the
// position poll of the Motion tab against a slewing unit, in real time, for
// ten seconds (or the seconds given). By default the unit is the built-in
// simulated one; with --device PATH it is whatever serves that serial device,
// for example a pseudo-terminal of `kqmctl simulate`, through QSerialPort.
#include "link/link.h"
#include "link/position_poll.h"
#include "link/qt_serial_port.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "simulator/simulated_port.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <memory>

namespace {

class QuietMessages final : public kqm::platform::Messages {
public:
    kqm::platform::MessageAnswer show(kqm::platform::MessageIcon, const QString&,
                                      kqm::platform::MessageButtons) override {
        return kqm::platform::MessageAnswer::Ok;
    }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    QString device;
    double seconds = 10.0;
    for (qsizetype i = 1; i + 1 < arguments.size(); i += 2) {
        if (arguments.at(i) == QLatin1String("--device"))
            device = arguments.at(i + 1);
        else if (arguments.at(i) == QLatin1String("--seconds"))
            seconds = arguments.at(i + 1).toDouble();
    }

    kqm::platform::SystemClock clock;
    std::unique_ptr<kqm::platform::SerialPort> port;
    if (device.isEmpty())
        port = std::make_unique<kqm::simulator::SimulatedPort>(clock);
    else
        port = std::make_unique<kqm::link::QtSerialPort>(device);
    if (!port->open()) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(port->deviceName()));
        return 1;
    }
    QuietMessages messages;
    kqm::link::LinkState state;
    state.UnitConnected = true;
    kqm::link::Link link(*port, clock, messages, state);
    kqm::link::PositionPoll poll(link, clock);
    int readings = 0;
    QString last;
    QObject::connect(&poll, &kqm::link::PositionPoll::positionRead, &poll,
                     [&](const QString& reply) {
                         ++readings;
                         last = reply.trimmed();
                     });

    link.writeFrame(QStringLiteral("S"));
    clock.Delay(0.1);
    poll.start();
    QTimer::singleShot(static_cast<int>(seconds * 1000), &app, &QCoreApplication::quit);
    const std::clock_t cpuStart = std::clock();
    const double start = clock.now();
    app.exec();
    const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    const double elapsed = clock.now() - start;
    link.stopMotion();

    std::printf("following a slewing unit on %s: %.2f s elapsed, %.3f s processor time "
                "(%.2f %% of a core), %d readings, still following: %s, last position %s\n",
                qPrintable(port->deviceName()), elapsed, cpu, 100.0 * cpu / elapsed, readings,
                poll.following() ? "yes" : "no", qPrintable(last));
    return poll.following() && readings > 0 ? 0 : 1;
}
