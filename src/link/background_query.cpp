#include "link/background_query.h"

#include "link/link.h"
#include "platform/clock.h"
#include "platform/serial_port.h"

namespace kqm::link {

double BackgroundQueries::timeout() const {
    // The frame out and a short reply back at the line's rate, and as long
    // for the unit to start answering as any other query allows: a reply
    // that comes later than the query waits would be read as the answer to
    // the next exchange.
    const int baud = m_link.m_state.BaudRate > 0 ? m_link.m_state.BaudRate : 9600;
    return 0.55 + 16 * 10.0 / baud;
}

BackgroundQueries::Reply BackgroundQueries::end(Outcome outcome, const QString& text) {
    m_running = false;
    m_takenOver = false;
    m_awaitingReply = false;
    return {outcome, text};
}

BackgroundQueries::Reply BackgroundQueries::ask(const QString& command, const QString& axis) {
    platform::SerialPort& port = m_link.m_port;
    platform::Clock& clock = m_link.m_clock;
    if (m_link.exchanges().isBusy() || m_running || !m_link.state().UnitConnected ||
        !port.PortOpen() || m_link.farEnd().entryMayBeOpen())
        return {Outcome::LineBusy, QString()};
    m_running = true;
    m_takenOver = false;
    // What waits in the receive buffer answers nothing that is asked now.
    if (port.InBufferCount() > 0)
        port.Input();
    m_unanswered = false;
    if (axis.isEmpty())
        m_link.writeFrame(command);
    else
        m_link.writeDirect(QStringLiteral("@") + axis + command + QLatin1Char('\r'));
    m_awaitingReply = true;
    m_sentAt = clock.now();
    // The waits sleep through the clock itself: an abort meant for a user's
    // exchange is not this query's business. Any of them may run a user's
    // whole action; after each, the query looks whether it still has the line.
    const auto gaveWay = [this, &port] {
        return m_takenOver || !port.PortOpen();
    };
    const double wait = timeout();
    while (!gaveWay() && port.InBufferCount() == 0 && clock.now() - m_sentAt <= wait)
        clock.Delay(Link::PollInterval);
    if (m_takenOver)
        return end(Outcome::GaveWay);
    if (!port.PortOpen())
        return end(Outcome::Lost);
    if (port.InBufferCount() == 0) {
        m_link.m_state.LastCommError = NoDataError;
        m_unanswered = true;
        return end(Outcome::Silent);
    }
    const double deadline = clock.now() + m_link.deadlineFor(MaxQueryReplyBytes);
    for (int previous = -1;;) {
        const int count = port.InBufferCount();
        if (count == previous)
            break;
        if (count > MaxQueryReplyBytes || clock.now() > deadline) {
            m_link.lineFlooded();
            return end(Outcome::Lost);
        }
        previous = count;
        clock.Delay(SettlePause);
        if (m_takenOver)
            return end(Outcome::GaveWay);
        if (!port.PortOpen())
            return end(Outcome::Lost);
    }
    return end(Outcome::Answered, QString::fromLatin1(port.Input()));
}

void BackgroundQueries::takeLine() {
    platform::SerialPort& port = m_link.m_port;
    platform::Clock& clock = m_link.m_clock;
    // A query that went unanswered may have been answered late: that reply
    // answers nothing asked from now on.
    if (m_unanswered && m_link.ReplyPending())
        port.Input();
    m_unanswered = false;
    if (!m_running || m_takenOver)
        return;
    m_takenOver = true;
    if (!m_awaitingReply)
        return;
    m_awaitingReply = false;
    // Its reply is answered to nobody now; let it in and drop it. A unit
    // that stays silent is waited for no longer than the query would have.
    const double left = m_sentAt + timeout() - clock.now();
    if (!m_link.waitFor([this, &port] { return m_link.ReplyPending() || !port.PortOpen(); }, left,
                        true))
        return;
    const double deadline = clock.now() + m_link.deadlineFor(MaxQueryReplyBytes);
    for (int previous = -1;
         port.PortOpen() && !m_link.exchanges().abortRequested() && clock.now() <= deadline;) {
        const int count = port.InBufferCount();
        if (count == previous)
            break;
        previous = count;
        clock.Delay(SettlePause);
    }
    if (port.PortOpen())
        port.Input();
}

} // namespace kqm::link
