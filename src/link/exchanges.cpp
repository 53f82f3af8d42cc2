#include "link/exchanges.h"

#include "link/link.h"
#include "platform/messages.h"

// One exchange with the unit at a time, and work of many exchanges held as
// one long exchange.

namespace kqm::link {

using platform::MessageIcon;

Exchanges::Exchanges(Link& link, const LinkState& state, platform::Messages& messages)
    : m_link(link), m_state(state), m_messages(messages) {}

void Exchanges::setBusy(bool busy) {
    if (m_busy == busy)
        return;
    m_busy = busy;
    emit m_link.busyChanged(busy);
}

QString Exchanges::busyMessage() const {
    if (m_longWork.isEmpty())
        return BusyMessage;
    return QStringLiteral("The unit is busy with %1. Please wait until it has finished, or press "
                          "Stop Motion to end it.")
        .arg(m_longWork);
}

bool Exchanges::refuseWhenBusy() {
    if (!m_busy && m_link.background().wouldGiveWay()) {
        // The action may write to the line: the background query gives way
        // first. Should the window start to close meanwhile, the action is
        // dropped.
        Exchange settle(m_link);
        return m_abort;
    }
    if (!m_busy)
        return false;
    m_messages.show(MessageIcon::Information, busyMessage());
    return true;
}

void Exchanges::reportNotConnected() {
    m_link.unitGone();
    m_messages.show(MessageIcon::None, notConnectedMessage());
}

bool Exchanges::refuseTargetChange() {
    if (m_targetHeld) {
        m_messages.show(MessageIcon::Information,
                        QStringLiteral("A send is waiting for your confirmation: the port and "
                                       "the axis stay as they are until its dialog is closed."));
        return true;
    }
    return refuseWhenBusy();
}

void Exchanges::stopPressed() {
    if (m_busy)
        m_stop = true;
    if (m_longId != 0)
        m_longStop = true;
}

std::optional<Exchange> Exchanges::tryBegin() {
    if (!m_state.UnitConnected) {
        reportNotConnected();
        return std::nullopt;
    }
    return tryBeginWithoutUnit();
}

std::optional<Exchange> Exchanges::tryBeginWithoutUnit(const LongExchange* within) {
    const bool own = within && m_longId != 0 && within->m_id == m_longId && !m_inExchange;
    if (!own && refuseWhenBusy())
        return std::nullopt;
    std::optional<Exchange> exchange;
    exchange.emplace(m_link);
    return exchange;
}

std::optional<LongExchange> Exchanges::tryBeginLong(const QString& what) {
    if (refuseWhenBusy())
        return std::nullopt;
    std::optional<LongExchange> held;
    held.emplace(*this, what);
    return held;
}

LongExchange::LongExchange(Exchanges& exchanges, const QString& what)
    : m_exchanges(&exchanges), m_id(++exchanges.m_lastLongId) {
    exchanges.m_longId = m_id;
    exchanges.m_longWork = what;
    exchanges.m_longStop = false;
    exchanges.m_abort = false;
    exchanges.setBusy(true);
}

LongExchange::~LongExchange() {
    if (!m_exchanges || m_exchanges->m_longId != m_id)
        return;
    m_exchanges->m_longId = 0;
    m_exchanges->m_longWork.clear();
    m_exchanges->m_longStop = false;
    if (!m_exchanges->m_inExchange)
        m_exchanges->setBusy(false);
}

bool LongExchange::stopped() const {
    return m_exchanges && (m_exchanges->m_longStop || m_exchanges->m_abort);
}

void LongExchange::forgetStop() {
    if (m_exchanges)
        m_exchanges->m_longStop = false;
}

Exchange::Exchange(Link& link) : m_link(&link) {
    Exchanges& exchanges = link.exchanges();
    exchanges.m_inExchange = true;
    exchanges.m_abort = false;
    exchanges.m_stop = false;
    link.exchangeBegins(); // the line is busy from here
}

Exchange::~Exchange() {
    if (!m_link)
        return;
    m_link->exchangeEnds();
    Exchanges& exchanges = m_link->exchanges();
    exchanges.m_inExchange = false;
    // Between the exchanges of a long one the line stays busy.
    if (exchanges.m_longId == 0)
        exchanges.setBusy(false);
}

} // namespace kqm::link
