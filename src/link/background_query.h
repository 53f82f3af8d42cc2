#pragma once

#include <QString>

namespace kqm::link {

class Link;

// A short query that runs between the user's actions (following the position
// while the motor moves) and gives way to them: an action that needs the line
// meanwhile is not refused, it takes the line over. The frame is always whole
// on the wire before anything else can run; the taker lets the query's reply
// arrive and drops it before its own first frame, so that reply is never read
// as the answer to the taker's query. The query then ends as GaveWay without
// reading anything more.
class BackgroundQueries {
public:
    enum class Outcome {
        Answered,
        Silent,   // no reply within the short time-out
        GaveWay,  // a user's action took the line over
        LineBusy, // another exchange runs, or no unit is connected: not asked
        Lost,     // the port went away or the line kept sending
    };
    struct Reply {
        Outcome outcome;
        QString text;
    };

    explicit BackgroundQueries(Link& link) : m_link(link) {}

    // `axis`: another unit on the line than the current one.
    Reply ask(const QString& command, const QString& axis = QString());
    bool running() const { return m_running; }

    static constexpr double SettlePause = 0.05;

private:
    friend class Exchanges;
    friend class Link;
    // A query runs that an action would take the line from.
    bool wouldGiveWay() const { return m_running && !m_takenOver; }
    // A user's exchange starts: a query in progress stops, and its reply, if
    // one is on its way, is let in and dropped; so is the late reply to one
    // that went unanswered.
    void takeLine();
    // How long a query waits for the first character of its reply.
    double timeout() const;
    Reply end(Outcome outcome, const QString& text = QString());

    Link& m_link;
    bool m_running = false;
    bool m_takenOver = false;
    // The query's frame went out and its reply is not yet read.
    bool m_awaitingReply = false;
    double m_sentAt = 0.0;
    bool m_unanswered = false;
};

} // namespace kqm::link
