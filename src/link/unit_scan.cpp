#include "link/unit_scan.h"

#include "link/connection.h"
#include "link/link.h"

#include <optional>

namespace kqm::link {

namespace {

// What a unit is relied on for: an answer begun within half a second.
constexpr double UnitWait = 0.5;
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

    std::optional<QByteArray> ask(int axis) {
        // Whatever waits already is stale text: it is dropped, not taken for
        // this address.
        if (m_link.ReplyPending())
            m_link.readSettled(SettlePause, MaxQueryReplyBytes);
        if (failed())
            return std::nullopt;
        // A lone CR first, so that what a cut-off frame left in a unit's
        // buffer does not swallow the question.
        m_link.writeDirect(QStringLiteral("\r@%1$\r").arg(axis));
        // The whole time a unit may take, so that no answer to this address
        // can arrive once the next one is asked.
        if (!m_link.waitForReply(UnitWait + lineTime(m_link.state().BaudRate), true))
            return std::nullopt;
        const QByteArray reply = m_link.readSettled(SettlePause, MaxQueryReplyBytes);
        if (failed())
            return std::nullopt;
        return reply;
    }

    bool failed() const { return m_link.flooded() || !m_link.isPortOpen(); }
    bool stopped() const {
        return m_link.exchanges().stopRequested() || m_link.exchanges().abortRequested();
    }
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

std::optional<FoundUnit> askUnitAt(Link& link, int axis) {
    Scan scan(link);
    const std::optional<QByteArray> reply = scan.ask(axis);
    if (reply || scan.failed() || scan.stopped())
        return unitIn(axis, reply);
    link.recovery().endUnknownEntry(QString::number(axis));
    if (scan.failed() || scan.stopped())
        return std::nullopt;
    auto found = unitIn(axis, scan.ask(axis));
    if (found) {
        found->leftStoring = true;
        link.recovery().emptyProgramOf(QString::number(axis));
    }
    return found;
}

ScanResult scanUnits(Link& link, const ScanProgress& progress) {
    ScanResult result;
    Scan scan(link);
    // However the scan ends, the request without an address (the upload's)
    // must reach the connected unit again, not the one the scan asked last.
    const auto end = [&]() -> ScanResult {
        if (link.state().UnitConnected && !scan.failed())
            link.recovery().nameConnectedUnit();
        if (scan.failed())
            result.failure = scan.failure();
        return result;
    };
    for (int axis = ScanFirstAxis; axis <= ScanLastAxis; ++axis) {
        if (scan.stopped())
            return end();
        const auto unit = askUnitAt(link, axis);
        if (scan.failed())
            return end();
        if (unit)
            result.units.push_back(*unit);
        if (progress)
            progress(axis, unit ? &result.units.back() : nullptr);
    }
    result.completed = true;
    return end();
}

} // namespace kqm::link
