#include "link/send_writer.h"

#include "link/link.h"
#include "platform/clock.h"
#include "platform/serial_port.h"

namespace kqm::link {

SendWriter::SendWriter(Link& link, double pace) : m_link(link) {
    m_link.m_sending = true;
    m_link.m_far.sendBegan(pace < Link::SurePace - 1e-9);
}

SendWriter::~SendWriter() {
    m_link.m_sending = false;
    // Any character of a faster send may have been lost, a CR or the quit
    // among them.
    m_link.m_far.sendEnded();
}

void SendWriter::slowDown() {
    m_link.m_far.sendEnded();
    m_link.m_far.sendBegan(false);
}

SendWriter::Step SendWriter::write(QChar character) {
    platform::SerialPort& port = m_link.m_port;
    if (!port.PortOpen())
        return Step::PortClosed;
    // Nothing is read during a send: what arrives is dropped, so a line that
    // keeps sending cannot fill memory.
    if (port.InBufferCount() > 0)
        port.Input();
    // A pace faster than the sure one still lets a unit hold the line with
    // CTS (at most half a second a character, as the paced writer waits).
    if (m_link.m_far.fastSend() && !port.CTSHolding())
        m_link.waitForCts(0.5, true);
    m_link.put(QByteArray(1, character.toLatin1()));
    // Out of Qt's buffer now, not at the next wait: the pace counts from
    // here, so two characters never leave closer together than the pace.
    port.waitForWritten(0);
    m_link.m_lastSendWrite = m_link.m_clock.now();
    return Step::Written;
}

} // namespace kqm::link
