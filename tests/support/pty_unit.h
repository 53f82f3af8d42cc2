#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace kqm::test {

// A simulated unit served on a pseudo-terminal by `kqmctl simulate`, for
// the real QSerialPort code path.
class PtyUnit {
public:
    explicit PtyUnit(const QString& kqmctl, const QStringList& arguments) {
        m_process.start(kqmctl, QStringList{QStringLiteral("simulate")} + arguments);
        if (m_process.waitForReadyRead(10000))
            m_device = QString::fromUtf8(m_process.readLine()).trimmed();
    }
    ~PtyUnit() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    PtyUnit(const PtyUnit&) = delete;
    PtyUnit& operator=(const PtyUnit&) = delete;

    QString device() const { return m_device; }

private:
    QProcess m_process;
    QString m_device;
};

} // namespace kqm::test
