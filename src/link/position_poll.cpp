#include "link/position_poll.h"

#include "link/link.h"
#include "platform/clock.h"

namespace kqm::link {

PositionPoll::PositionPoll(Link& link, platform::Clock& clock, QObject* parent)
    : QObject(parent), m_link(link), m_timer(clock.createTimer([this] { poll(); })) {
    connect(&m_link, &Link::connectionStatusChanged, this, [this](bool connected) {
        if (!connected)
            stop();
    });
}

PositionPoll::~PositionPoll() = default;

bool PositionPoll::canFollow() const {
    const LinkState& state = m_link.state();
    return state.UnitConnected && m_link.isPortOpen() && state.UnitModel == QLatin1String("KQM20");
}

void PositionPoll::start() {
    if (!canFollow()) {
        stop();
        return;
    }
    ++m_round;
    m_last.reset();
    m_misses = 0;
    setFollowing(true);
    // The first reading as soon as the window is idle again.
    m_timer->start(0);
}

void PositionPoll::stop() {
    ++m_round;
    m_timer->stop();
    m_last.reset();
    setFollowing(false);
}

void PositionPoll::setFollowing(bool following) {
    if (following == m_following)
        return;
    m_following = following;
    emit followingChanged(following);
}

void PositionPoll::poll() {
    if (!m_following)
        return;
    if (!canFollow()) {
        stop();
        return;
    }
    const int round = m_round;
    const Link::BackgroundReply reply = m_link.background().ask(QStringLiteral("VZ"));
    if (round != m_round)
        return; // started again or stopped while the query waited
    using Outcome = Link::BackgroundOutcome;
    switch (reply.outcome) {
    case Outcome::Answered:
        m_misses = 0;
        emit positionRead(reply.text);
        if (m_last == reply.text) {
            stop();
            return;
        }
        m_last = reply.text;
        break;
    case Outcome::Silent:
        if (++m_misses >= MissesToGiveUp) {
            stop();
            return;
        }
        break;
    case Outcome::Lost:
        stop();
        return;
    case Outcome::GaveWay:
    case Outcome::LineBusy:
        break; // the user's exchange has the line: ask again at the next tick
    }
    m_timer->start(Interval);
}

} // namespace kqm::link
