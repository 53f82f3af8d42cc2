// The memory a long dry run takes: `kqmctl run --trace --plot` of a program
// that executes about ten million lines (nested loops around a 1 ms wait).
// The trace goes to its file as the run goes and the plot keeps an even
// sample, so the resident memory stays bounded whatever the run's length.
// Prints the lines run, the time, the largest resident set and the sizes of
// the trace and the plot; fails when the resident set passes 100 MB.
// Run: run_memory [OUTER-COUNT] (default 75: 9,981,005 lines).
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int outer = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 75;
    QTemporaryDir dir;
    const QString text = dir.filePath(QStringLiteral("long.txt"));
    const QString program = dir.filePath(QStringLiteral("long.mdb"));
    QFile file(text);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QStringLiteral("KQM program text 1\nW1\n&0_255\n&0_255\n&0_%1\nQ\n")
                       .arg(outer)
                       .toUtf8()) < 0)
        return 1;
    file.close();
    if (QProcess::execute(QStringLiteral(KQMCTL_PATH),
                          {QStringLiteral("import"), text, QStringLiteral("-o"), program}) != 0)
        return 1;
    const QByteArray kqmctl = QByteArrayLiteral(KQMCTL_PATH);
    const QByteArray path = program.toLocal8Bit();
    const QByteArray trace = dir.filePath(QStringLiteral("trace.csv")).toLocal8Bit();
    const QByteArray plot = dir.filePath(QStringLiteral("plot.svg")).toLocal8Bit();
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        if (!freopen("/dev/null", "w", stdout))
            _exit(127);
        execl(kqmctl.constData(), "kqmctl", "run", path.constData(), "--limit", "100000", "--trace",
              trace.constData(), "--plot", plot.constData(), nullptr);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child)
        return 1;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double residentMb = usage.ru_maxrss / 1024.0;
    const long lines = 2L * 256 * 256 * (outer + 1) + 257L * (outer + 1) + (outer + 1) + 1;
    std::printf("lines run: about %ld\ntime: %.2f s\nlargest resident set: %.1f MB\n"
                "trace: %.1f MB\nplot: %.1f KB\n",
                lines, seconds, residentMb, QFileInfo(QString::fromLocal8Bit(trace)).size() / 1e6,
                QFileInfo(QString::fromLocal8Bit(plot)).size() / 1e3);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "kqmctl run ended with status %d\n", status);
        return 1;
    }
    return residentMb < 100 ? 0 : 1;
}
