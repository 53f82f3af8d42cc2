#include "dryrun/executor.h"
#include "dryrun/run_report.h"
#include "recorded_run.h"

#include <benchmark/benchmark.h>

namespace {

using namespace kqm::dryrun;

// Three nested loops around a line that sets the outputs: a little over a
// million lines (no waits, so the limit never cuts it short).
QList<RunStep> millionLines() {
    return stepsFromCommands({QStringLiteral("O2"), QStringLiteral("O1"), QStringLiteral("&0_255"),
                              QStringLiteral("&0_255"), QStringLiteral("&0_7"),
                              QStringLiteral("Q")});
}

// Goal: a loop that executes 10^6 lines finishes in well under a second.
void BM_RunAMillionLines(benchmark::State& state) {
    const QList<RunStep> steps = millionLines();
    qint64 lines = 0;
    for (auto _ : state) {
        Executor run(steps, RunSettings{});
        run.run();
        lines = run.linesExecuted();
        benchmark::DoNotOptimize(lines);
    }
    state.counters["lines"] = static_cast<double>(lines);
}
BENCHMARK(BM_RunAMillionLines)->Unit(benchmark::kMillisecond);

// The points of a plot of 10^5 executed lines.
void BM_PlotPointsOfAHundredThousandLines(benchmark::State& state) {
    const auto run = kqm::bench::hundredThousandLines();
    for (auto _ : state)
        benchmark::DoNotOptimize(positionPoints(*run));
    state.counters["lines"] = static_cast<double>(run->linesExecuted());
}
BENCHMARK(BM_PlotPointsOfAHundredThousandLines)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
