#pragma once

#include <QString>

namespace kqm::link {

class Link;

// What the link writes to end what a unit may have been left in (an open
// frame, a program entry) and to name the connected unit again. The far end's
// bookkeeping says when it is needed; every exchange and every connect use it.
class LineRecovery {
public:
    explicit LineRecovery(Link& link) : m_link(link) {}

    // A lone carriage return when a frame may be open: the unit takes it as
    // an empty frame, and what follows is a frame of its own.
    void closeOpenFrame();
    // Ends program entry: a lone CR, the quit frame at the sure pace, then
    // identification. True when the unit answered it (it is out of entry).
    bool endProgramEntry();
    // A unit at `axis` that did not answer may be storing frames since a
    // send that was cut off (another process, a pulled cable): a lone CR and
    // the quit frame at the sure pace end such an entry. The caller greets
    // the unit again.
    void endUnknownEntry(const QString& axis);
    // A unit found storing frames holds part of a program and the frames
    // that reached it since: its memory is emptied (the opening frame, then
    // the quit frame, at the sure pace), as a stopped send leaves it, so
    // that half a program can never run.
    void emptyProgramOf(const QString& axis);
    // The read-back showed the whole program with its quit: entry is over.
    void programEntryEnded();
    // When the last addressed frame named another unit, the connected unit
    // is named again (its identification, reply read) so that the upload
    // request reaches it. False when it did not answer.
    bool nameConnectedUnit();

private:
    // Each character a sure pace after the one before; Stop Motion waits
    // for the frame's end. False when the port closed (or, with `abortable`,
    // the window began to close) on the way.
    bool writeAtSurePace(const QByteArray& text, bool abortable);

    Link& m_link;
};

} // namespace kqm::link
