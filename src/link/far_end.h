#pragma once

#include <QByteArray>
#include <QString>

namespace kqm::link {

// What is known of the far end of the line from what was written to it:
// what the unit's buffer may hold since the last CR, whether program entry
// may be open (and for which unit), and which unit the last addressed frame
// named, which is where the address-less upload request goes. It keeps no
// port: the link tells it every character it writes.
class FarEnd {
public:
    // Characters written to the line, in order.
    void written(const QByteArray& bytes);
    // The port was opened: nothing is known of the far end.
    void portOpened();
    // A program send at a faster pace than the sure one may lose
    // characters: while it runs, and after it, until a lone CR at the sure
    // pace, any character may be missing, a CR or the quit among them.
    void sendBegan(bool fast) { m_fastSend = fast; }
    void sendEnded();
    // A lone CR went out at the sure pace: the unit takes what its buffer
    // holds as a frame of its own and starts afresh. After lost characters,
    // that frame may have named any unit.
    void lineClosed();
    // The read-back showed the whole program with its quit, or the quit
    // frame and an answer to identification ended the entry.
    void entryEnded() { m_entryOpen = false; }
    // A quit frame went out at the sure pace but nothing answered after it.
    void entryMayStillBeOpen() { m_entryOpen = true; }

    bool frameMayBeOpen() const { return !m_unitBuffer.isEmpty() || m_charactersMayBeLost; }
    bool charactersMayBeLost() const { return m_charactersMayBeLost; }
    bool fastSend() const { return m_fastSend; }
    bool entryMayBeOpen() const { return m_entryOpen; }
    // The unit entry was opened for; empty when none is known.
    const QString& entryAxis() const { return m_entryAxis; }
    // The axis the last addressed frame named; empty: unknown.
    const QString& addressedAxis() const { return m_addressedAxis; }

private:
    void frameWritten(const QByteArray& frame);

    QByteArray m_unitBuffer;
    bool m_charactersMayBeLost = false;
    bool m_fastSend = false;
    bool m_entryOpen = false;
    QString m_entryAxis;
    QString m_addressedAxis;
};

} // namespace kqm::link
