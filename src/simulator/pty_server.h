#pragma once

#include "simulator/simulated_line.h"

#include <QObject>
#include <QString>

#include <deque>
#include <utility>

class QSocketNotifier;
class QTimer;

namespace kqm::simulator {

// Serves a simulated unit (or a line of several) on a pseudo-terminal, so
// the real serial code path (QSerialPort on a device) can talk to it. Runs on
// the event loop of the thread that made it; the device path is what a
// client opens.
class PtyServer final : public QObject {
    Q_OBJECT
public:
    PtyServer(const platform::Clock& clock, QString model, int axis, QObject* parent = nullptr);
    ~PtyServer() override;

    bool start();
    QString devicePath() const { return m_devicePath; }
    QString errorString() const { return m_error; }
    // The first unit on the line.
    SimulatedUnit& unit() { return m_line.unit(); }
    SimulatedLine& line() { return m_line; }
    // Closes the pseudo-terminal as a pulled cable would.
    void unplug();
    // Each character takes the time the baud rate the client chose gives it
    // (ten bits), both ways, as on a serial wire; otherwise a pseudo-terminal
    // carries it at once.
    void setWirePaced(bool paced) { m_paced = paced; }

private:
    void readFromClient();
    void flushToClient();
    void scheduleFlush();
    // The time a character takes at the client's baud rate.
    double characterTime() const;
    void deliverArrived();

    SimulatedLine m_line;
    const platform::Clock& m_clock;
    int m_master = -1;
    int m_slave = -1; // kept open so the line survives a client closing it
    QString m_devicePath;
    QString m_error;
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_flushTimer = nullptr;
    bool m_paced = false;
    // Characters on the wire, with the moment each arrives at the far end.
    std::deque<std::pair<double, char>> m_inbound;
    std::deque<std::pair<double, char>> m_outbound;
    double m_inFree = 0;
    double m_outFree = 0;
};

} // namespace kqm::simulator
