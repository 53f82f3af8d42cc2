#include "dryrun/trace_view.h"

#include "dryrun/run_plot.h"

#include <QLabel>
#include <QPushButton>

#include <cmath>

namespace kqm::dryrun {

TraceView::TraceView(RunPlot& plot, QLabel& report, QPushButton& useFit)
    : m_plot(plot), m_report(report), m_useFit(useFit) {
    m_useFit.hide();
    m_report.hide();
}

TraceView::~TraceView() = default;

void TraceView::phase(const QString& phase) {
    m_report.show();
    m_report.setText(QStringLiteral("Trace: ") + phase + QStringLiteral("..."));
}

void TraceView::started(const QList<RunStep>& steps, const RunSettings& settings) {
    m_tracing = true;
    m_steps = steps;
    m_settings = settings;
    m_measured = {};
    m_fit.reset();
    m_useFit.hide();
    // The model ahead of the unit, with the inputs the unit has at the start.
    RunSettings ahead = settings;
    ahead.record = true;
    ahead.holdForInputs = false;
    m_model = std::make_unique<Executor>(steps, ahead);
    m_model->run();
    showPlot();
}

void TraceView::sample(const TraceSample& sample) {
    if (!m_model)
        return;
    if (sample.position)
        m_measured.points.append(QPointF(sample.at, static_cast<double>(*sample.position)));
    if (sample.inputs >= 0 &&
        (m_measured.inputs.isEmpty() || m_measured.inputs.last().second != sample.inputs))
        m_measured.inputs.append({m_measured.inputs.isEmpty() ? 0.0 : sample.at, sample.inputs});
    m_report.setText(QStringLiteral("Trace: running, %1 s%2")
                         .arg(sample.at, 0, 'f', 2)
                         .arg(sample.position ? QStringLiteral(", position %1").arg(*sample.position)
                                              : QString()));
    // The plot follows a few times a second.
    if (++m_samplesSincePlot >= 4) {
        m_samplesSincePlot = 0;
        showPlot();
        m_plot.setTimeCursor(sample.at);
    }
}

void TraceView::ended(const QStringList& report, std::unique_ptr<Executor> model,
                      const MeasuredCurve& measured, const std::optional<AccelFit>& fit) {
    m_tracing = false;
    m_model = std::move(model);
    m_measured = measured;
    m_fit = fit;
    QStringList lines = report;
    if (fit)
        lines << fitLine(*fit) + QLatin1Char('.');
    m_report.show();
    m_report.setText(lines.join(QLatin1Char('\n')));
    // Offered only when it is another value than the model's own.
    m_useFit.setVisible(fit && std::lround(fit->accelUnit) != std::lround(fit->given));
    if (fit)
        m_useFit.setText(QStringLiteral("Use %1 steps/s\u00B2 per A").arg(fit->accelUnit, 0, 'f', 0));
    if (m_model) {
        showPlot();
        m_plot.setTimeCursor(-1);
    }
}

void TraceView::refused(const QString& why) {
    m_tracing = false;
    if (!m_model || m_measured.points.isEmpty())
        leave();
    m_report.show();
    m_report.setText(why);
}

void TraceView::showPlot() {
    if (!m_model)
        return;
    PlotData data = plotDataOf(*m_model);
    addMeasured(data, m_measured.points, m_measured.inputs);
    m_plot.setData(data);
}

std::optional<int> TraceView::fittedUnit() const {
    if (!m_fit)
        return std::nullopt;
    return static_cast<int>(std::lround(m_fit->accelUnit));
}

void TraceView::takeFit() {
    const std::optional<int> unit = fittedUnit();
    if (!unit)
        return;
    RunSettings settings = m_settings;
    settings.stepsPerSecondSquaredPerA = *unit;
    settings.record = true;
    settings.holdForInputs = false;
    settings.inputs.clear();
    for (const auto& [at, pattern] : std::as_const(m_measured.inputs))
        settings.inputs.append({onTick(at), pattern});
    const double until = m_measured.points.isEmpty() ? 0.0 : m_measured.points.last().x();
    settings.limit = std::max(settings.limit, until + 1);
    m_model = std::make_unique<Executor>(m_steps, settings);
    m_model->runUntil(until);
    m_settings.stepsPerSecondSquaredPerA = *unit;
    m_useFit.hide();
    m_report.setText(m_report.text() +
                     QStringLiteral("\nThe model now uses %1 steps/s\u00B2 per A.").arg(*unit));
    showPlot();
}

void TraceView::leave() {
    m_model.reset();
    m_measured = {};
    m_fit.reset();
    m_useFit.hide();
    m_report.clear();
    m_report.hide();
}

QByteArray TraceView::svg() const {
    return m_model ? runPlotSvg(*m_model, 900, 560, &m_measured) : QByteArray();
}

} // namespace kqm::dryrun
