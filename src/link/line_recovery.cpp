#include "link/line_recovery.h"

#include "link/connection.h"
#include "link/link.h"
#include "platform/clock.h"
#include "platform/serial_port.h"

#include <algorithm>

namespace kqm::link {

bool LineRecovery::writeAtSurePace(const QByteArray& text, bool abortable) {
    Link& link = m_link;
    link.m_insideFrame = true;
    bool whole = true;
    for (const char c : text) {
        link.m_clock.Delay(Link::SurePace);
        if (!link.m_port.PortOpen() || (abortable && link.m_exchanges.abortRequested())) {
            whole = false;
            break;
        }
        link.put(QByteArray(1, c));
    }
    link.m_insideFrame = false;
    link.writePendingStop();
    return whole;
}

void LineRecovery::closeOpenFrame() {
    if (!m_link.m_far.frameMayBeOpen() || !m_link.m_port.PortOpen())
        return;
    // A unit that may have lost characters gets the CR, and what follows
    // it, at the sure pace.
    const bool lossy = m_link.m_far.charactersMayBeLost();
    if (lossy)
        m_link.m_clock.Delay(Link::SurePace);
    if (!m_link.m_port.PortOpen())
        return;
    m_link.m_port.Output(QByteArray(1, '\r'));
    m_link.m_far.lineClosed();
    if (lossy)
        m_link.m_clock.Delay(Link::SurePace);
}

bool LineRecovery::endProgramEntry() {
    if (!m_link.m_port.PortOpen())
        return false;
    const QString axis =
        m_link.m_far.entryAxis().isEmpty() ? m_link.m_state.AxisAddress : m_link.m_far.entryAxis();
    // Each character at the sure pace, the first one a pace after whatever
    // went before; the waits hold even while the window closes.
    const auto paced = [this](const QByteArray& text) {
        for (const char c : text) {
            m_link.m_clock.Delay(Link::SurePace);
            if (!m_link.m_port.PortOpen())
                return false;
            m_link.put(QByteArray(1, c));
        }
        return true;
    };
    if (!paced(QByteArray("\r")))
        return false;
    m_link.m_far.lineClosed();
    if (!paced(QByteArray("@") + axis.toLatin1() + QByteArray("Q\r")))
        return false;
    m_link.m_far.entryEnded();
    // Identification answers only outside program entry.
    if (m_link.ReplyPending())
        m_link.m_port.Input();
    m_link.m_clock.Delay(Link::SurePace);
    m_link.put(QByteArray("@") + axis.toLatin1() + QByteArray("$\r"));
    const double deadline = m_link.m_clock.now() + 0.5 + m_link.deadlineFor(16) - 2.0;
    while (m_link.m_port.PortOpen() && !m_link.ReplyPending() && m_link.m_clock.now() <= deadline)
        m_link.m_clock.Delay(Link::PollInterval);
    if (!m_link.ReplyPending()) {
        if (m_link.m_port.PortOpen())
            m_link.m_far.entryMayStillBeOpen();
        return false;
    }
    double settleBy = m_link.m_clock.now() + m_link.deadlineFor(MaxQueryReplyBytes);
    for (int previous = -1; m_link.m_port.PortOpen() && m_link.m_clock.now() <= settleBy;) {
        const int count = m_link.m_port.InBufferCount();
        if (count == previous || count > MaxQueryReplyBytes)
            break;
        previous = count;
        m_link.m_clock.Delay(0.1);
    }
    const QString reply =
        m_link.m_port.PortOpen() ? QString::fromLatin1(m_link.m_port.Input()) : QString();
    if (unitVersionOf(reply))
        return true;
    m_link.m_far.entryMayStillBeOpen();
    return false;
}

void LineRecovery::endUnknownEntry(const QString& axis) {
    // A lone CR first, then the quit frame, each character a sure pace
    // after the one before: a unit storing frames stores the quit and is out
    // of entry; one that is not gets a quit it does not need.
    writeAtSurePace(QByteArray("\r@") + axis.toLatin1() + QByteArray("Q\r"), true);
    m_link.m_clock.Delay(Link::SurePace);
}

void LineRecovery::emptyProgramOf(const QString& axis) {
    writeAtSurePace(QByteArray("@") + axis.toLatin1() + QByteArray("E0\r@") + axis.toLatin1() +
                        QByteArray("Q\r"),
                    false);
}

void LineRecovery::programEntryEnded() {
    m_link.m_far.entryEnded();
}

bool LineRecovery::nameConnectedUnit() {
    closeOpenFrame();
    if (m_link.m_far.addressedAxis() == m_link.m_state.AxisAddress)
        return true;
    if (m_link.ReplyPending())
        m_link.m_port.Input();
    m_link.writeFrame(QStringLiteral("$"));
    if (!m_link.waitForReply(0.5 + 16 * 10.0 / std::max(m_link.m_state.BaudRate, 1), true))
        return false;
    m_link.readSettled(0.1, MaxQueryReplyBytes);
    return !m_link.m_flooded;
}

} // namespace kqm::link
