#include "link/link.h"

#include "platform/messages.h"
#include "platform/serial_port.h"

// One exchange with the unit at a time, and work of many exchanges held as
// one long exchange.

namespace kqm::link {

QString Link::busyMessage() const {
    if (m_longWork.isEmpty())
        return BusyMessage;
    return QStringLiteral("The unit is busy with %1. Please wait until it has finished, or press "
                          "Stop Motion to end it.")
        .arg(m_longWork);
}

std::optional<Link::Exchange> Link::tryBegin() {
    if (!m_state.UnitConnected) {
        ReportNotConnected();
        return std::nullopt;
    }
    return tryBeginWithoutUnit();
}

std::optional<Link::Exchange> Link::tryBeginWithoutUnit(const LongExchange* within) {
    const bool own = within && m_longId != 0 && within->m_id == m_longId && !m_inExchange;
    if (!own && refuseWhenBusy())
        return std::nullopt;
    std::optional<Exchange> exchange;
    exchange.emplace(*this);
    return exchange;
}

std::optional<Link::LongExchange> Link::tryBeginLong(const QString& what) {
    if (refuseWhenBusy())
        return std::nullopt;
    std::optional<LongExchange> held;
    held.emplace(*this, what);
    return held;
}

Link::LongExchange::LongExchange(Link& link, const QString& what)
    : m_link(&link), m_id(++link.m_lastLongId) {
    link.m_longId = m_id;
    link.m_longWork = what;
    link.m_longStop = false;
    link.m_abort = false;
    link.m_busy = true;
    emit link.busyChanged(true);
}

Link::LongExchange::~LongExchange() {
    if (!m_link || m_link->m_longId != m_id)
        return;
    m_link->m_longId = 0;
    m_link->m_longWork.clear();
    m_link->m_longStop = false;
    if (!m_link->m_inExchange) {
        m_link->m_busy = false;
        emit m_link->busyChanged(false);
    }
}

bool Link::LongExchange::stopped() const {
    return m_link && (m_link->m_longStop || m_link->m_abort);
}

void Link::LongExchange::forgetStop() {
    if (m_link)
        m_link->m_longStop = false;
}

Link::Exchange::Exchange(Link& link) : m_link(&link) {
    const bool wasBusy = m_link->m_busy;
    m_link->m_busy = true;
    m_link->m_inExchange = true;
    m_link->m_abort = false;
    m_link->m_stop = false;
    m_link->m_stopPending = false;
    m_link->m_lostReason.clear();
    m_link->m_flooded = false;
    if (!wasBusy)
        emit m_link->busyChanged(true);
    m_link->takeLineFromBackground();
    // Nothing else goes out while the unit may still be in program entry.
    if (m_link->m_far.entryMayBeOpen() && m_link->m_port.PortOpen())
        m_link->endProgramEntry();
}

Link::Exchange::~Exchange() {
    if (!m_link)
        return;
    if (m_link->m_far.entryMayBeOpen() && m_link->m_port.PortOpen() && !m_link->m_sending)
        m_link->endProgramEntry();
    m_link->writePendingStop();
    m_link->m_insideFrame = false;
    m_link->m_inExchange = false;
    // Between the exchanges of a long one the line stays busy.
    if (m_link->m_longId == 0) {
        m_link->m_busy = false;
        emit m_link->busyChanged(false);
    }
}

} // namespace kqm::link
