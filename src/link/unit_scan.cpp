#include "link/unit_scan.h"

#include "link/connection.h"
#include "link/link.h"

#include <optional>

namespace kqm::link {

namespace {

// Long enough for a unit to turn a query round, short enough that 32
// addresses take seconds, not half a minute.
constexpr double OwnWait = 0.25;
// What a unit is relied on for: an answer begun within half a second.
constexpr double LongWait = 0.5;
// "@31$" and CR out, "KQM20  1.65" and CR back.
constexpr int FrameAndReplyCharacters = 5 + 12;
// Two counts this far apart that agree end a reply, as for every query.
constexpr double SettlePause = 0.1;

double lineTime(int baudRate) {
    return FrameAndReplyCharacters * 10.0 / (baudRate > 0 ? baudRate : 9600);
}

// One address asked for its version; the settled reply, or nothing when it
// stayed silent or the line failed (see Scan::failed).
class Scan {
public:
    explicit Scan(Link& link) : m_link(link) {}

    std::optional<QByteArray> ask(int axis, double wait) {
        // Whatever waits already is stale text, or an answer that came too
        // late for its own address: it is dropped, not taken for this one.
        if (m_link.ReplyPending())
            m_link.readSettled(SettlePause, MaxQueryReplyBytes);
        if (failed())
            return std::nullopt;
        m_link.writeDirect(QStringLiteral("@%1$\r").arg(axis));
        if (!m_link.waitForReply(wait + lineTime(m_link.state().BaudRate), true))
            return std::nullopt;
        const QByteArray reply = m_link.readSettled(SettlePause, MaxQueryReplyBytes);
        if (failed())
            return std::nullopt;
        return reply;
    }

    bool failed() const { return m_link.flooded() || !m_link.isPortOpen(); }
    bool stopped() const { return m_link.stopRequested() || m_link.abortRequested(); }
    QString failure() const {
        return m_link.lostReason().isEmpty() ? NotOpenError : m_link.lostReason();
    }

private:
    Link& m_link;
};

std::optional<FoundUnit> unitIn(int axis, const std::optional<QByteArray>& reply) {
    const auto version = reply ? unitVersionOf(QString::fromLatin1(*reply)) : std::nullopt;
    if (!version)
        return std::nullopt;
    return FoundUnit{axis, version->model, version->revision};
}

} // namespace

ScanResult scanUnits(Link& link, const ScanProgress& progress) {
    ScanResult result;
    Scan scan(link);
    const auto found = [&](int axis, const std::optional<FoundUnit>& unit) {
        if (unit)
            result.units.push_back(*unit);
        if (progress)
            progress(axis, unit ? &result.units.back() : nullptr);
    };
    bool previousSilent = false;
    for (int axis = ScanFirstAxis; axis <= ScanLastAxis; ++axis) {
        if (scan.stopped())
            return result;
        std::optional<QByteArray> reply = scan.ask(axis, OwnWait);
        if (reply && previousSilent) {
            // A slow unit's answer lands in the next address's wait. Asked
            // again with time to spare, an address that answered at once
            // answers again; if it does not, or two answers came together,
            // the address before may be a slow unit.
            bool twoAnswers = reply->count('\r') > 1;
            reply = scan.ask(axis, LongWait);
            twoAnswers = twoAnswers || (reply && reply->count('\r') > 1);
            if ((!reply || twoAnswers) && !scan.failed()) {
                if (const auto late = unitIn(axis - 1, scan.ask(axis - 1, LongWait)))
                    found(axis - 1, late);
            }
        }
        if (scan.failed()) {
            result.failure = scan.failure();
            return result;
        }
        found(axis, unitIn(axis, reply));
        previousSilent = !reply;
    }
    // The line's last frame named axis 31; a request without an address
    // (the upload's) is answered by the unit named last, so the connected
    // unit is named again, with the same query.
    if (link.state().UnitConnected && !scan.failed()) {
        scan.ask(link.state().AxisAddress.toInt(), LongWait);
        if (scan.failed()) {
            result.failure = scan.failure();
            return result;
        }
    }
    result.completed = true;
    return result;
}

} // namespace kqm::link
