#include "link/far_end.h"
#include "link/connection.h"
#include "link/link.h"
#include "platform/clock.h"
#include "platform/serial_port.h"

#include <algorithm>

// What the link writes to end what a unit may have been left in (an open
// frame, a program entry), to name the connected unit, and to change it.

namespace kqm::link {

// Every character for the unit goes out here, so the far end follows it.
void Link::put(const QByteArray& bytes) {
    if (!m_port.PortOpen())
        return;
    m_port.Output(bytes);
    m_far.written(bytes);
}

void Link::portOpened() {
    m_far.portOpened();
}

void Link::closeOpenFrame() {
    if (!m_far.frameMayBeOpen() || !m_port.PortOpen())
        return;
    // A unit that may have lost characters gets the CR, and what follows
    // it, at the sure pace.
    const bool lossy = m_far.charactersMayBeLost();
    if (lossy)
        m_clock.Delay(SurePace);
    if (!m_port.PortOpen())
        return;
    m_port.Output(QByteArray(1, '\r'));
    m_far.lineClosed();
    if (lossy)
        m_clock.Delay(SurePace);
}

bool Link::endProgramEntry() {
    if (!m_port.PortOpen())
        return false;
    const QString axis = m_far.entryAxis().isEmpty() ? m_state.AxisAddress : m_far.entryAxis();
    // Each character at the sure pace, the first one a pace after whatever
    // went before; the waits hold even while the window closes.
    const auto paced = [this](const QByteArray& text) {
        for (const char c : text) {
            m_clock.Delay(SurePace);
            if (!m_port.PortOpen())
                return false;
            put(QByteArray(1, c));
        }
        return true;
    };
    if (!paced(QByteArray("\r")))
        return false;
    m_far.lineClosed();
    if (!paced(QByteArray("@") + axis.toLatin1() + QByteArray("Q\r")))
        return false;
    m_far.entryEnded();
    // Identification answers only outside program entry.
    if (ReplyPending())
        m_port.Input();
    m_clock.Delay(SurePace);
    put(QByteArray("@") + axis.toLatin1() + QByteArray("$\r"));
    const double deadline = m_clock.now() + 0.5 + deadlineFor(16) - 2.0;
    while (m_port.PortOpen() && !ReplyPending() && m_clock.now() <= deadline)
        m_clock.Delay(PollInterval);
    if (!ReplyPending()) {
        if (m_port.PortOpen())
            m_far.entryMayStillBeOpen();
        return false;
    }
    double settleBy = m_clock.now() + deadlineFor(MaxQueryReplyBytes);
    for (int previous = -1; m_port.PortOpen() && m_clock.now() <= settleBy;) {
        const int count = m_port.InBufferCount();
        if (count == previous || count > MaxQueryReplyBytes)
            break;
        previous = count;
        m_clock.Delay(0.1);
    }
    const QString reply = m_port.PortOpen() ? QString::fromLatin1(m_port.Input()) : QString();
    if (unitVersionOf(reply))
        return true;
    m_far.entryMayStillBeOpen();
    return false;
}

void Link::endUnknownEntry(const QString& axis) {
    // A lone CR first, then the quit frame, each character a sure pace
    // after the one before: a unit storing frames stores the quit and is out
    // of entry; one that is not gets a quit it does not need.
    // Stop Motion meanwhile waits for the frame's end.
    m_insideFrame = true;
    for (const char c : QByteArray("\r@") + axis.toLatin1() + QByteArray("Q\r")) {
        m_clock.Delay(SurePace);
        if (!m_port.PortOpen() || m_abort)
            break;
        put(QByteArray(1, c));
    }
    m_insideFrame = false;
    writePendingStop();
    m_clock.Delay(SurePace);
}

void Link::emptyProgramOf(const QString& axis) {
    m_insideFrame = true;
    for (const char c : QByteArray("@") + axis.toLatin1() + QByteArray("E0\r@") + axis.toLatin1() +
                            QByteArray("Q\r")) {
        m_clock.Delay(SurePace);
        if (!m_port.PortOpen())
            break;
        put(QByteArray(1, c));
    }
    m_insideFrame = false;
    writePendingStop();
}

void Link::takeUnit(const QString& axis, const QString& model, const QString& revision) {
    m_state.AxisAddress = axis;
    m_state.UnitModel = model;
    m_state.UnitRevision = revision;
    m_state.UnitConnected = true;
    // The unit's answer has just come: the line names it unless something
    // was written since.
    if (m_far.addressedAxis() != axis)
        nameConnectedUnit();
    ShowConnectionStatus();
}

void Link::chooseAddress(const QString& axis) {
    if (m_state.AxisAddress == axis)
        return;
    m_state.AxisAddress = axis;
    if (m_state.UnitConnected) {
        m_state.UnitConnected = false;
        ShowConnectionStatus();
    }
}

void Link::choosePort(int portNumber, int baudRate) {
    m_state.ComPortNumber = portNumber;
    m_state.BaudRate = baudRate;
}

bool Link::nameConnectedUnit() {
    closeOpenFrame();
    if (m_far.addressedAxis() == m_state.AxisAddress)
        return true;
    if (ReplyPending())
        m_port.Input();
    writeFrame(QStringLiteral("$"));
    if (!waitForReply(0.5 + 16 * 10.0 / std::max(m_state.BaudRate, 1), true))
        return false;
    readSettled(0.1, MaxQueryReplyBytes);
    return !m_flooded;
}

} // namespace kqm::link
