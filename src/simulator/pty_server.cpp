#include "simulator/pty_server.h"

#include "platform/clock.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cmath>
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

void PtyServer::readFromClient() {
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        m_line.receive(QByteArray(buffer, static_cast<qsizetype>(n)));
    }
    flushToClient();
}

void PtyServer::flushToClient() {
    const QByteArray bytes = m_line.takeOutput();
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
    if (!m_line.hasScheduledOutput() || m_flushTimer->isActive())
        return;
    const double wait = std::max(0.0, m_line.nextOutputTime() - m_clock.now());
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
