#pragma once

#include "dryrun/executor.h"
#include "dryrun/run_report.h"
#include "dryrun/trace_compare.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QLabel;
class QPushButton;

namespace kqm::dryrun {

class RunPlot;

// A trace of the unit shown in the dry run's plot: the model's run of the
// traced program, what the unit reported drawn over it, the report beneath
// and, where another acceleration unit fits better, the offer to take it.
class TraceView {
public:
    TraceView(RunPlot& plot, QLabel& report, QPushButton& useFit);
    ~TraceView();

    void started(const QList<RunStep>& steps, const RunSettings& settings);
    void sample(const TraceSample& sample);
    void ended(const QStringList& report, std::unique_ptr<Executor> model,
               const MeasuredCurve& measured, const std::optional<AccelFit>& fit);
    void refused(const QString& why);
    void phase(const QString& phase);
    // Nothing of a trace is shown any more.
    void leave();

    bool tracing() const { return m_tracing; }
    bool shown() const { return m_model != nullptr; }
    // The fitted value, whole, as the model's box takes it.
    std::optional<int> fittedUnit() const;
    // The model runs again with the fitted value, over the same readings.
    void takeFit();
    QByteArray svg() const;

private:
    void showPlot();

    RunPlot& m_plot;
    QLabel& m_report;
    QPushButton& m_useFit;
    bool m_tracing = false;
    QList<RunStep> m_steps;
    RunSettings m_settings;
    std::unique_ptr<Executor> m_model;
    MeasuredCurve m_measured;
    std::optional<AccelFit> m_fit;
    int m_samplesSincePlot = 0;
};

} // namespace kqm::dryrun
