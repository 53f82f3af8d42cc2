#pragma once

#include <QString>

#include <optional>

namespace kqm::platform {
class Messages;
}

namespace kqm::link {

class Exchanges;
class Link;
struct LinkState;

inline const QString BusyMessage =
    QStringLiteral("The unit is busy with another exchange. Please wait until it has finished.");

// One exchange with the unit at a time; the line is free again when the
// exchange object ends. Starting one takes the line from a background query.
class Exchange {
public:
    explicit Exchange(Link& link);
    ~Exchange();
    Exchange(Exchange&& other) noexcept : m_link(other.m_link) { other.m_link = nullptr; }
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;
    Exchange& operator=(Exchange&&) = delete;

private:
    Link* m_link;
};

// Work of many exchanges (a machine run, a pace test) holds the line as one
// long exchange: the busy state stays on between its own exchanges, which
// begin within it, and anything else that would write to the unit is
// refused, being told what runs. Stop Motion ends the whole of it.
class LongExchange {
public:
    LongExchange(Exchanges& exchanges, const QString& what);
    ~LongExchange();
    LongExchange(LongExchange&& other) noexcept : m_exchanges(other.m_exchanges), m_id(other.m_id) {
        other.m_exchanges = nullptr;
    }
    LongExchange(const LongExchange&) = delete;
    LongExchange& operator=(const LongExchange&) = delete;
    LongExchange& operator=(LongExchange&&) = delete;

    // Stop Motion was pressed since it began (or since forgetStop).
    bool stopped() const;
    // A Stop already acted on: only the next one counts (a pace test sends
    // the unit's own program back after the Stop that ended it).
    void forgetStop();

private:
    friend class Exchanges;
    Exchanges* m_exchanges;
    int m_id;
};

// Who may use the line now: one exchange at a time, long work held as one,
// the user's requests to stop or to end, and what the user is told when an
// action is refused for it.
class Exchanges {
public:
    Exchanges(Link& link, const LinkState& state, platform::Messages& messages);

    bool isBusy() const { return m_busy; }
    // Shows the busy message and returns true when an exchange is running.
    // A background query does not count: it gives way.
    bool refuseWhenBusy();
    // The not-connected message; the unit shows as not connected.
    void reportNotConnected();
    // While an exchange is being confirmed (its dialog is open), the port
    // and the axis it is aimed at stay as they are.
    void holdTarget(bool held) { m_targetHeld = held; }
    bool targetHeld() const { return m_targetHeld; }
    // Shows why and returns true when the port or axis may not change now:
    // an exchange runs, or one is being confirmed.
    bool refuseTargetChange();

    // Ends the running exchange at its next wait (the window is closing).
    void requestAbort() { m_abort = true; }
    bool abortRequested() const { return m_abort; }
    // Asks a running program send to end after its current character.
    void requestStop() { m_stop = true; }
    bool stopRequested() const { return m_stop; }
    // Stop Motion was pressed or the window is closing.
    bool interrupted() const { return m_stop || m_abort; }

    // Starts an exchange when a unit is connected and no other exchange
    // runs; otherwise shows why (the not-connected or the busy message) and
    // returns nothing.
    std::optional<Exchange> tryBegin();
    // The same for exchanges that need the line but no identified unit
    // (connecting, choosing settings). `within`: the long exchange that
    // holds the line, whose own exchange this is.
    std::optional<Exchange> tryBeginWithoutUnit(const LongExchange* within = nullptr);
    // Starts a long exchange, or shows why not and returns nothing.
    std::optional<LongExchange> tryBeginLong(const QString& what);

private:
    friend class Exchange;
    friend class LongExchange;
    friend class Link;
    // What the user is told while the line is busy: what runs, when a long
    // exchange holds it.
    QString busyMessage() const;
    // Stop Motion: the exchange at hand learns of it at its next step.
    void stopPressed();
    void setBusy(bool busy);

    Link& m_link;
    const LinkState& m_state;
    platform::Messages& m_messages;
    bool m_busy = false;
    bool m_inExchange = false; // an exchange runs (a long one's own, or any other)
    int m_longId = 0;          // the long exchange that holds the line; 0: none
    int m_lastLongId = 0;
    QString m_longWork;
    bool m_longStop = false;
    bool m_targetHeld = false;
    bool m_abort = false;
    bool m_stop = false;
};

} // namespace kqm::link
