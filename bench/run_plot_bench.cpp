#include "dryrun/run_plot.h"
#include "recorded_run.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

namespace {

using namespace kqm::dryrun;

// Goal: the plot of 10^5 executed lines draws in under 50 ms.
void BM_DrawThePlotOfAHundredThousandLines(benchmark::State& state) {
    const auto run = kqm::bench::hundredThousandLines();
    const PlotData data = plotDataOf(*run);
    QImage image(1200, 520, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        drawRunPlot(painter, QRectF(image.rect()), data, run->now() / 2);
    }
    state.counters["points"] = static_cast<double>(data.points.size());
}
BENCHMARK(BM_DrawThePlotOfAHundredThousandLines)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
