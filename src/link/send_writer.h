#pragma once

#include <QChar>

namespace kqm::link {

class Link;

// The program send's writer: one character per write, straight into the port
// (no CTS at the sure pace, no echo), for as long as it lives. A pace faster
// than the sure one may lose characters: afterwards the unit's buffer and
// program entry are uncertain until ended.
class SendWriter {
public:
    SendWriter(Link& link, double pace);
    ~SendWriter();
    SendWriter(const SendWriter&) = delete;
    SendWriter& operator=(const SendWriter&) = delete;

    enum class Step { Written, PortClosed };
    Step write(QChar character);
    // From here on at the sure pace (what ends a stopped send).
    void slowDown();

private:
    Link& m_link;
};

} // namespace kqm::link
