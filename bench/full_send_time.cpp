// Where the time of a verified full-memory send goes: the greeting, keeping
// the unit's program, the send itself and its read-back, at each pace, over
// the real serial code to `kqmctl simulate` on a pseudo-terminal at 9600
// baud. The unit's memory is filled to its 2047 bytes by the pace test's
// program. Run: full_send_time [PACE ...] (default 0.0021 0, the fastest
// paces a unit can prove at 9600 baud).
#include "link/connection.h"
#include "link/link.h"
#include "link/qt_serial_port.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "transfer/pace_test.h"
#include "transfer/send_operation.h"
#include "transfer/send_request.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char** argv) {
    using namespace kqm;
    QCoreApplication app(argc, argv);
    QList<double> paces;
    for (int i = 1; i < argc; ++i)
        paces << QString::fromLocal8Bit(argv[i]).toDouble();
    if (paces.isEmpty())
        paces = {0.0021, 0.0};

    QProcess unit;
    unit.start(QStringLiteral(KQMCTL_PATH), {QStringLiteral("simulate")});
    if (!unit.waitForReadyRead(10000)) {
        std::fprintf(stderr, "kqmctl simulate did not start\n");
        return 1;
    }
    const QString device = QString::fromUtf8(unit.readLine()).trimmed();
    QTemporaryDir dir;
    const QVector<program::ProgramRow> rows = transfer::paceTestProgram();
    const transfer::SendProgram program =
        transfer::SendProgram::fromRows(rows, QStringLiteral("(full memory)"), QStringLiteral("0"));
    std::printf("%zu lines, %lld characters on the wire (%.1f s of line time at 9600 baud)\n",
                static_cast<size_t>(rows.size()),
                static_cast<long long>(program.frames().text().size()),
                program.frames().text().size() * 10.0 / 9600);
    std::printf("%-14s %9s %9s %9s %9s %9s  %s\n", "pace", "greeting", "backup", "send",
                "read-back", "total", "end");
    for (const double pace : paces) {
        platform::SystemClock clock;
        platform::SilentMessages messages;
        link::QtSerialPort port(device);
        link::LinkState state;
        link::Link deviceLink(port, clock, messages, state);
        link::Connection connection(deviceLink);
        const double start = clock.now();
        if (!connection.connectTo(9600, 1)) {
            std::fprintf(stderr, "the simulated unit did not answer\n");
            return 1;
        }
        const double greeted = clock.now();
        transfer::SendChoice choice;
        choice.pace = transfer::PaceRequest::trial(pace);
        choice.backupDirectory = dir.filePath(QStringLiteral("backups"));
        const auto made = transfer::requestSend(deviceLink, program, choice, {});
        if (!made.request) {
            std::fprintf(stderr, "%s\n", qPrintable(made.refusal->text));
            return 1;
        }
        double sendStarted = 0;
        double sendEnded = 0;
        transfer::SendCallbacks callbacks;
        callbacks.sendStarted = [&](int) {
            sendStarted = clock.now();
        };
        callbacks.sendEnded = [&] {
            sendEnded = clock.now();
        };
        const transfer::SendReport report = transfer::runSend(deviceLink, *made.request, callbacks);
        const double end = clock.now();
        std::printf("%-14s %8.2fs %8.2fs %8.2fs %8.2fs %8.2fs  %s\n",
                    qPrintable(transfer::paceText(pace)), greeted - start, sendStarted - greeted,
                    sendEnded - sendStarted, end - sendEnded, end - start,
                    report.end == transfer::SendEnd::Verified ? "verified" : "NOT verified");
        deviceLink.disconnectUnit();
    }
    unit.kill();
    unit.waitForFinished(5000);
    return 0;
}
