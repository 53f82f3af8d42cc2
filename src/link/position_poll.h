#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

namespace kqm::platform {
class Clock;
class ClockTimer;
} // namespace kqm::platform

namespace kqm::link {

class Link;

// Follows the unit's position while the motor moves. After a motion command
// it asks the unit where it is about twice a second, until two readings in a
// row agree (the motor has stopped), the unit stops answering or the
// connection ends; a slew is followed until it is stopped. Each query runs in
// the background and gives way to the user's own actions; between queries
// only a timer waits. A KQM21 cannot tell its position: nothing is asked of it.
class PositionPoll final : public QObject {
    Q_OBJECT
public:
    PositionPoll(Link& link, platform::Clock& clock, QObject* parent = nullptr);
    ~PositionPoll() override;

    // Starts following, or starts again after another motion command.
    void start();
    void stop();
    bool following() const { return m_following; }

    static constexpr double Interval = 0.5;
    // Replies missed in a row before the unit counts as not answering.
    static constexpr int MissesToGiveUp = 2;

signals:
    // The unit's reply to the position query, as it arrived.
    void positionRead(const QString& reply);
    void followingChanged(bool following);

private:
    bool canFollow() const;
    void poll();
    void setFollowing(bool following);

    Link& m_link;
    std::unique_ptr<platform::ClockTimer> m_timer;
    std::optional<QString> m_last;
    int m_misses = 0;
    // Counts starts and stops, so that a query that returns after the user
    // started or stopped the following meanwhile leaves it alone.
    int m_round = 0;
    bool m_following = false;
};

} // namespace kqm::link
