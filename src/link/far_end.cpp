#include "link/far_end.h"

// The far end of the line, as far as what was written tells.

namespace kqm::link {

void FarEnd::written(const QByteArray& bytes) {
    for (const char c : bytes) {
        if (c == '\n')
            continue;
        if (c != '\r') {
            m_unitBuffer.append(c);
            continue;
        }
        const QByteArray frame = m_unitBuffer;
        m_unitBuffer.clear();
        // A lone CR at a sure pace empties the unit's buffer, whatever it held.
        if (frame.isEmpty() && !m_fastSend)
            m_charactersMayBeLost = false;
        frameWritten(frame);
    }
}

void FarEnd::frameWritten(const QByteArray& frame) {
    if (frame.isEmpty() || !frame.startsWith('@'))
        return;
    qsizetype end = 1;
    while (end < frame.size() && frame.at(end) >= '0' && frame.at(end) <= '9')
        ++end;
    if (end == 1)
        return;
    const QString axis = QString::fromLatin1(frame.mid(1, end - 1));
    const QByteArray command = frame.mid(end);
    m_addressedAxis = axis;
    if (command == "E0") {
        m_entryOpen = true;
        m_entryAxis = axis;
    } else if (m_entryOpen && axis == m_entryAxis && command == "Q" && !m_fastSend &&
               !m_charactersMayBeLost) {
        // Only a quit that surely arrived whole ends the entry.
        m_entryOpen = false;
    }
}

void FarEnd::portOpened() {
    *this = FarEnd();
}

void FarEnd::sendEnded() {
    if (m_fastSend)
        m_charactersMayBeLost = true;
    m_fastSend = false;
}

void FarEnd::lineClosed() {
    // The CR makes a frame of whatever the unit's buffer holds: "@3" names
    // unit 3 as surely as any whole frame; lost characters may have named
    // any unit.
    if (m_charactersMayBeLost)
        m_addressedAxis.clear();
    else
        frameWritten(m_unitBuffer);
    m_unitBuffer.clear();
    m_charactersMayBeLost = false;
}

} // namespace kqm::link
