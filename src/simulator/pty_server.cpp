#include "simulator/pty_server.h"

#include "platform/clock.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <algorithm>
#include <cmath>
#include <limits>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace kqm::simulator {

namespace {
void makeRaw(int fd) {
    termios attributes{};
    if (tcgetattr(fd, &attributes) == 0) {
        cfmakeraw(&attributes);
        tcsetattr(fd, TCSANOW, &attributes);
    }
}
} // namespace

PtyServer::PtyServer(const platform::Clock& clock, QString model, int axis, QObject* parent)
    : QObject(parent), m_line(clock, std::move(model), axis), m_clock(clock) {}

PtyServer::~PtyServer() {
    unplug();
}

bool PtyServer::start() {
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const char* name = ptsname(m_master);
    if (!name) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_devicePath = QString::fromLocal8Bit(name);
    m_slave = ::open(name, O_RDWR | O_NOCTTY);
    if (m_slave >= 0)
        makeRaw(m_slave);
    makeRaw(m_master);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);

    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PtyServer::readFromClient);
    m_flushTimer = new QTimer(this);
    m_flushTimer->setSingleShot(true);
    m_flushTimer->setTimerType(Qt::PreciseTimer);
    connect(m_flushTimer, &QTimer::timeout, this, &PtyServer::flushToClient);
    scheduleFlush(); // a line that is noisy from the start
    return true;
}

double PtyServer::characterTime() const {
    termios attributes{};
    speed_t speed = B9600;
    if (m_slave >= 0 && tcgetattr(m_slave, &attributes) == 0)
        speed = cfgetospeed(&attributes);
    static const std::pair<speed_t, int> rates[] = {
        {B300, 300},     {B600, 600},     {B1200, 1200},   {B2400, 2400},
        {B4800, 4800},   {B9600, 9600},   {B19200, 19200}, {B38400, 38400},
        {B57600, 57600}, {B115200, 115200}};
    int baud = 9600;
    for (const auto& [code, rate] : rates)
        if (code == speed)
            baud = rate;
    return 10.0 / baud;
}

void PtyServer::readFromClient() {
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        if (!m_paced) {
            m_line.receive(QByteArray(buffer, static_cast<qsizetype>(n)));
            continue;
        }
        const double character = characterTime();
        for (ssize_t i = 0; i < n; ++i) {
            m_inFree = std::max(m_inFree, m_clock.now()) + character;
            m_inbound.emplace_back(m_inFree, buffer[i]);
        }
    }
    flushToClient();
}

void PtyServer::deliverArrived() {
    QByteArray arrived;
    while (!m_inbound.empty() && m_inbound.front().first <= m_clock.now()) {
        arrived += m_inbound.front().second;
        m_inbound.pop_front();
    }
    if (!arrived.isEmpty())
        m_line.receive(arrived);
}

void PtyServer::flushToClient() {
    QByteArray bytes;
    if (m_paced) {
        deliverArrived();
        const double character = characterTime();
        for (const char byte : m_line.takeOutput()) {
            m_outFree = std::max(m_outFree, m_clock.now()) + character;
            m_outbound.emplace_back(m_outFree, byte);
        }
        while (!m_outbound.empty() && m_outbound.front().first <= m_clock.now()) {
            bytes += m_outbound.front().second;
            m_outbound.pop_front();
        }
    } else {
        bytes = m_line.takeOutput();
    }
    qsizetype written = 0;
    while (written < bytes.size() && m_master >= 0) {
        const ssize_t n = ::write(m_master, bytes.constData() + written,
                                  static_cast<size_t>(bytes.size() - written));
        if (n <= 0)
            break;
        written += n;
    }
    scheduleFlush();
}

void PtyServer::scheduleFlush() {
    if (m_flushTimer->isActive())
        return;
    double next = m_line.hasScheduledOutput() ? m_line.nextOutputTime()
                                              : std::numeric_limits<double>::infinity();
    if (!m_inbound.empty())
        next = std::min(next, m_inbound.front().first);
    if (!m_outbound.empty())
        next = std::min(next, m_outbound.front().first);
    if (!std::isfinite(next))
        return;
    const double wait = std::max(0.0, next - m_clock.now());
    m_flushTimer->start(static_cast<int>(std::ceil(wait * 1000.0)));
}

void PtyServer::unplug() {
    if (m_notifier)
        m_notifier->setEnabled(false);
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = -1;
    m_master = -1;
}

} // namespace kqm::simulator
