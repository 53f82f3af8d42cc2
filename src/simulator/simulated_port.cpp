#include "simulator/simulated_port.h"

#include "platform/clock.h"

namespace kqm::simulator {

SimulatedPort::SimulatedPort(const platform::Clock& clock, QString model, int axis)
    : m_clock(clock), m_line(clock, std::move(model), axis) {}

bool SimulatedPort::open() {
    if (m_failNext != OpenFailure::None) {
        m_failure = m_failNext;
        m_error = m_failError;
        return false;
    }
    m_failure = OpenFailure::None;
    m_error.clear();
    m_open = true;
    m_received = m_line.unit().faults().staleOnOpen;
    return true;
}

void SimulatedPort::Output(const QByteArray& data) {
    if (!m_open)
        return;
    for (const char byte : data)
        m_writes.append({m_clock.now(), byte});
    m_line.receive(data);
}

void SimulatedPort::collect() {
    if (m_open)
        m_received += m_line.takeOutput();
}

int SimulatedPort::InBufferCount() {
    collect();
    return static_cast<int>(m_received.size());
}

QByteArray SimulatedPort::Input() {
    collect();
    QByteArray data;
    data.swap(m_received);
    return data;
}

QByteArray SimulatedPort::written() const {
    QByteArray bytes;
    for (const Write& write : m_writes.recent())
        bytes += write.byte;
    return bytes;
}

void SimulatedPort::failOpens(OpenFailure failure, const QString& error) {
    m_failNext = failure;
    m_failError = error;
}

void SimulatedPort::unplug() {
    if (!m_open)
        return;
    m_open = false;
    reportLost(QStringLiteral("the simulated unit was unplugged"));
}

} // namespace kqm::simulator
