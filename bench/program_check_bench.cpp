#include "program/command_set.h"
#include "program/program_check.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

namespace {

using kqm::program::ProgramRow;

// 1023 lines the way a long indexing job is written: blocks of speed set-up,
// a move, a wait, a loop back to the block's start, and a conditional goto
// back to the block before; a quit at the end.
QVector<ProgramRow> largeProgram() {
    QStringList commands{QStringLiteral("A10"), QStringLiteral("H0")};
    int address = 6; // after A10 and H0
    int previousBlock = 0;
    for (int block = 0; block < 102; ++block) {
        const int start = address;
        const QStringList lines{
            QStringLiteral("M%1").arg(2000 + 10 * block),
            QStringLiteral("B%1").arg(500 + block),
            QStringLiteral("N%1\r@0G").arg(400 + block),
            QStringLiteral("F"),
            QStringLiteral("W50"),
            QStringLiteral("+"),
            QStringLiteral("G"),
            QStringLiteral("&%1_3").arg(start),
            QStringLiteral("?1"),
            QStringLiteral("X%1").arg(previousBlock),
        };
        for (const QString& line : lines) {
            commands << line;
            address += kqm::program::knownCommandSize(line).value_or(0);
        }
        previousBlock = start;
    }
    commands << QStringLiteral("Q");
    QVector<ProgramRow> rows;
    for (const QString& command : commands) {
        ProgramRow row;
        row.command = command;
        rows << row;
    }
    return rows;
}

void BM_CheckLargeProgram(benchmark::State& state) {
    const QVector<ProgramRow> rows = largeProgram();
    if (rows.size() != 1023)
        state.SkipWithError("the program should have 1023 lines");
    qsizetype problems = 0;
    for (auto _ : state) {
        const auto found = kqm::program::checkProgram(rows);
        problems = found.size();
        benchmark::DoNotOptimize(found);
    }
    // So many lines take more than the unit's memory, and the loops in the
    // far part branch beyond what the editor accepts: those are reported.
    state.counters["problems"] = static_cast<double>(problems);
}
BENCHMARK(BM_CheckLargeProgram)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
