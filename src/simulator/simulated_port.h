#pragma once

#include "platform/serial_port.h"
#include "simulator/recent_log.h"
#include "simulator/simulated_line.h"

#include <QList>

namespace kqm::simulator {

// The serial-port operations with the simulated unit at the far end, in the
// same process (or several units on one line). The bytes written are logged
// with the clock's time (the most recent 64 K), so tests can check characters
// and the pauses between them.
class SimulatedPort final : public platform::SerialPort {
public:
    struct Write {
        double at;
        char byte;
    };

    explicit SimulatedPort(const platform::Clock& clock, QString model = QStringLiteral("KQM20"),
                           int axis = 0);

    bool PortOpen() const override { return m_open; }
    bool open() override;
    void Close() override { m_open = false; }
    int CommPort() const override { return m_commPort; }
    void setCommPort(int port) override { m_commPort = port; }
    void setSettings(const QString& settings) override { m_settings = settings; }
    bool CTSHolding() override { return m_open && m_line.ctsHolding(); }
    void Output(const QByteArray& data) override;
    int OutBufferCount() override { return m_line.transmitStuck() ? 1 : 0; }
    int InBufferCount() override;
    QByteArray Input() override;
    void waitForWritten(int) override {}
    OpenFailure openFailure() const override { return m_failure; }
    QString errorString() const override { return m_error; }
    QString deviceName() const override { return QStringLiteral("simulated unit"); }
    bool simulated() const override { return true; }

    // The first unit on the line (the only one, unless more were added).
    SimulatedUnit& unit() { return m_line.unit(); }
    SimulatedUnit& addUnit(QString model, int axis) {
        return m_line.addUnit(std::move(model), axis);
    }
    SimulatedLine& line() { return m_line; }
    QString settings() const { return m_settings; }
    const QList<Write>& writes() const { return m_writes.recent(); }
    qsizetype writeCount() const { return m_writes.count(); }
    QList<Write> writesSince(qsizetype count) const { return m_writes.since(count); }
    QByteArray written() const;
    void clearWrites() { m_writes.clear(); }

    // Test controls: refuse the next opens, or pull the cable now.
    void failOpens(OpenFailure failure, const QString& error);
    void unplug();

private:
    void collect();

    const platform::Clock& m_clock;
    SimulatedLine m_line;
    bool m_open = false;
    int m_commPort = 1;
    QString m_settings;
    QByteArray m_received;
    RecentLog<Write> m_writes{65536};
    OpenFailure m_failure = OpenFailure::None;
    OpenFailure m_failNext = OpenFailure::None;
    QString m_error;
    QString m_failError;
};

} // namespace kqm::simulator
