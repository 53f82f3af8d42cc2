#include "dryrun/dry_run_panel.h"

#include "dryrun/run_plot.h"
#include "dryrun/run_report.h"
#include "dryrun/trace_view.h"
#include "platform/clock.h"
#include "platform/object_names.h"
#include "program/command_set.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace kqm::dryrun {

namespace {

using platform::named;

constexpr double TickSeconds = 0.04;
constexpr qint64 LinesPerTick = 200000; // keeps the window answering
constexpr int ListedLines = 5000;

} // namespace

DryRunPanel::DryRunPanel(platform::Clock& clock, QWidget* parent)
    : QWidget(parent), m_clock(clock), m_timer(clock.createTimer([this] { tick(); })) {
    build();
    refresh();
}

DryRunPanel::~DryRunPanel() = default;

void DryRunPanel::build() {
    const auto button = [this](const char* name, const QString& caption) {
        auto* push = named(new QPushButton(caption), name);
        push->setAutoDefault(false);
        return push;
    };
    cmdDryRun = button("cmdDryRun", QStringLiteral("Run"));
    cmdDryPause = button("cmdDryPause", QStringLiteral("Pause"));
    cmdDryStep = button("cmdDryStep", QStringLiteral("Step"));
    cmdDryRunToLine = button("cmdDryRunToLine", QStringLiteral("Run to Line"));
    cmdDryReset = button("cmdDryReset", QStringLiteral("Reset"));
    cmdDrySavePlot = button("cmdDrySavePlot", QStringLiteral("Save Plot..."));
    cboDrySpeed = named(new QComboBox, "cboDrySpeed");
    cboDrySpeed->addItems(
        {QStringLiteral("x1"), QStringLiteral("x10"), QStringLiteral("As fast as possible")});
    cboDrySpeed->setCurrentIndex(2);
    // The run's keys, wherever the focus is in the window; a menu lists them.
    const auto key = [this](const char* name, const QString& text, const QKeySequence& keys,
                            void (DryRunPanel::*slot)()) {
        auto* action = new QAction(text, this);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(keys);
        connect(action, &QAction::triggered, this, slot);
        m_runActions << action;
    };
    key("actDryRunPause", QStringLiteral("Dry Run: &Run or Pause"), QKeySequence(Qt::Key_F8),
        &DryRunPanel::runOrPause);
    key("actDryStep", QStringLiteral("Dry Run: &Step"), QKeySequence(Qt::Key_F10),
        &DryRunPanel::stepLine);
    key("actDryReset", QStringLiteral("Dry Run: R&eset"), QKeySequence(Qt::SHIFT | Qt::Key_F8),
        &DryRunPanel::reset);
    cmdDryRun->setToolTip(QStringLiteral("Run (F8)"));
    cmdDryPause->setToolTip(QStringLiteral("Pause (F8)"));
    cmdDryStep->setToolTip(QStringLiteral("Step one line (F10)"));
    cmdDryReset->setToolTip(QStringLiteral("Start over (Shift+F8)"));
    // Short rows: the dock stays narrow beside the tabs.
    auto* controls = new QGridLayout;
    controls->addWidget(cmdDryRun, 0, 0);
    controls->addWidget(cmdDryPause, 0, 1);
    controls->addWidget(cmdDryStep, 1, 0);
    controls->addWidget(cmdDryRunToLine, 1, 1);
    controls->addWidget(cmdDryReset, 2, 0);
    controls->setColumnStretch(2, 1);
    auto* speed = new QHBoxLayout;
    speed->addWidget(new QLabel(QStringLiteral("Speed:")));
    speed->addWidget(cboDrySpeed);
    speed->addStretch(1);

    lblDryWatch = named(new QLabel, "lblDryWatch");
    lblDryWatch->setWordWrap(true);
    lblDryWatch->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblDryWatch->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* inputs = new QHBoxLayout;
    inputs->addWidget(new QLabel(QStringLiteral("Inputs:")));
    for (int i = 0; i < 4; ++i) {
        chkDryInput[i] = new QCheckBox(QString::number(i + 1));
        chkDryInput[i]->setObjectName(QStringLiteral("chkDryInput%1").arg(i + 1));
        inputs->addWidget(chkDryInput[i]);
        connect(chkDryInput[i], &QCheckBox::toggled, this, [this] {
            if (m_run && txtDrySchedule->text().trimmed().isEmpty()) {
                m_run->setInputs(inputPattern(), m_time);
                refresh();
            }
        });
    }
    inputs->addStretch(1);
    txtDrySchedule = named(new QLineEdit, "txtDrySchedule");
    txtDrySchedule->setPlaceholderText(QStringLiteral("or a schedule: 0:5,2.5:0"));
    auto* schedule = new QHBoxLayout;
    schedule->addWidget(new QLabel(QStringLiteral("Schedule:")));
    schedule->addWidget(txtDrySchedule, 1);

    spnDryTimeLimit = named(new QDoubleSpinBox, "spnDryTimeLimit");
    spnDryTimeLimit->setRange(0.1, 86400);
    spnDryTimeLimit->setValue(60);
    spnDryTimeLimit->setSuffix(QStringLiteral(" s"));
    chkDryTravel = named(new QCheckBox(QStringLiteral("Travel limits")), "chkDryTravel");
    spnDryTravelLow = named(new QSpinBox, "spnDryTravelLow");
    spnDryTravelHigh = named(new QSpinBox, "spnDryTravelHigh");
    for (QSpinBox* limit : {spnDryTravelLow, spnDryTravelHigh})
        limit->setRange(-8388608, 8388607);
    spnDryTravelHigh->setValue(100000);
    const auto limitsEdited = [this] {
        if (!m_settingLimits) {
            emit travelLimitsChanged(travelLimits());
            refresh();
        }
    };
    connect(chkDryTravel, &QCheckBox::toggled, this, limitsEdited);
    connect(spnDryTravelLow, &QSpinBox::valueChanged, this, limitsEdited);
    connect(spnDryTravelHigh, &QSpinBox::valueChanged, this, limitsEdited);
    chkDryMovesHold =
        named(new QCheckBox(QStringLiteral("Moves hold the program")), "chkDryMovesHold");
    spnDryAccelUnit = named(new QSpinBox, "spnDryAccelUnit");
    spnDryAccelUnit->setRange(1, 1000000);
    spnDryAccelUnit->setValue(static_cast<int>(RunSettings{}.stepsPerSecondSquaredPerA));
    spnDryAccelUnit->setSuffix(QStringLiteral(" steps/s\u00B2 per A"));
    spnDryAccelUnit->setToolTip(QStringLiteral("The motion model's acceleration for one unit of "
                                               "A; times that depend on it are estimated"));
    // The model that ran, named beside the plot with its switches.
    lblDryModel = named(new QLabel, "lblDryModel");
    lblDryModel->setWordWrap(true);
    auto* model = new QHBoxLayout;
    model->addWidget(new QLabel(QStringLiteral("Model:")));
    model->addWidget(spnDryAccelUnit);
    model->addStretch(1);
    for (QWidget* box :
         {static_cast<QWidget*>(spnDryAccelUnit), static_cast<QWidget*>(chkDryMovesHold),
          static_cast<QWidget*>(txtDrySchedule), static_cast<QWidget*>(spnDryTimeLimit)})
        box->setToolTip(box->toolTip().isEmpty()
                            ? QStringLiteral("A run always uses what this box shows: a change "
                                             "starts the run over.")
                            : box->toolTip());
    connect(chkDryMovesHold, &QCheckBox::toggled, this, &DryRunPanel::followBoxes);
    connect(spnDryAccelUnit, &QSpinBox::valueChanged, this, &DryRunPanel::followBoxes);
    connect(spnDryTimeLimit, &QDoubleSpinBox::valueChanged, this, &DryRunPanel::followBoxes);
    connect(txtDrySchedule, &QLineEdit::editingFinished, this, &DryRunPanel::followBoxes);
    auto* limits = new QHBoxLayout;
    limits->addWidget(new QLabel(QStringLiteral("Time limit:")));
    limits->addWidget(spnDryTimeLimit);
    limits->addStretch(1);
    auto* travel = new QHBoxLayout;
    travel->addWidget(spnDryTravelLow);
    travel->addWidget(new QLabel(QStringLiteral("to")));
    travel->addWidget(spnDryTravelHigh);
    travel->addStretch(1);

    lstDryExecuted = named(new QListWidget, "lstDryExecuted");
    pltDryRun = named(new RunPlot, "pltDryRun");
    lblDryFindings = named(new QLabel, "lblDryFindings");
    lblDryFindings->setWordWrap(true);
    lblDryFindings->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The unit itself runs the program, and its motion is drawn over the model's.
    cmdDryTrace = button("cmdDryTrace", QStringLiteral("Trace on Unit"));
    cmdDryTrace->setToolTip(QStringLiteral(
        "Run the program on the unit (it must hold this program) and draw what it does over "
        "the model"));
    cmdDryTraceStop = button("cmdDryTraceStop", QStringLiteral("Stop Trace"));
    cmdDryTraceStop->setToolTip(QStringLiteral("End the trace and stop the unit (F12)"));
    cmdDryUseFit = button("cmdDryUseFit", QString());
    lblDryTrace = named(new QLabel, "lblDryTrace");
    lblDryTrace->setWordWrap(true);
    lblDryTrace->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_trace = std::make_unique<TraceView>(*pltDryRun, *lblDryTrace, *cmdDryUseFit);
    auto* trace = new QHBoxLayout;
    trace->addWidget(cmdDryTrace);
    trace->addWidget(cmdDryTraceStop);
    trace->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addLayout(speed);
    layout->addLayout(inputs);
    layout->addLayout(schedule);
    layout->addLayout(limits);
    layout->addWidget(chkDryTravel);
    layout->addLayout(travel);
    layout->addWidget(lblDryWatch);
    layout->addLayout(model);
    layout->addWidget(chkDryMovesHold);
    layout->addWidget(lblDryModel);
    layout->addWidget(pltDryRun, 2);
    // What the unit did, right under the plot that shows it.
    layout->addLayout(trace);
    layout->addWidget(lblDryTrace);
    layout->addWidget(cmdDryUseFit, 0, Qt::AlignLeft);
    layout->addWidget(lstDryExecuted, 1);
    layout->addWidget(lblDryFindings);
    layout->addWidget(cmdDrySavePlot, 0, Qt::AlignLeft);
    showTraceButtons();

    connect(cmdDryRun, &QPushButton::clicked, this, &DryRunPanel::startRun);
    connect(cmdDryPause, &QPushButton::clicked, this, &DryRunPanel::pause);
    connect(cmdDryStep, &QPushButton::clicked, this, &DryRunPanel::stepLine);
    connect(cmdDryRunToLine, &QPushButton::clicked, this, &DryRunPanel::runToChosenLine);
    connect(cmdDryReset, &QPushButton::clicked, this, &DryRunPanel::reset);
    connect(cmdDrySavePlot, &QPushButton::clicked, this, &DryRunPanel::savePlotRequested);
    connect(lstDryExecuted, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { emit lineChosen(item->data(Qt::UserRole).toInt()); });
    connect(pltDryRun, &RunPlot::timeClicked, this, &DryRunPanel::chooseTime);
    connect(cmdDryTrace, &QPushButton::clicked, this, &DryRunPanel::traceRequested);
    connect(cmdDryTraceStop, &QPushButton::clicked, this, &DryRunPanel::traceStopRequested);
    connect(cmdDryUseFit, &QPushButton::clicked, this, &DryRunPanel::useFit);
}

void DryRunPanel::setProgramSource(std::function<QStringList()> commands) {
    m_commands = std::move(commands);
}

void DryRunPanel::setChosenLineSource(std::function<int()> row) {
    m_chosenLine = std::move(row);
}

void DryRunPanel::setBreakpoints(std::vector<bool> breakpoints) {
    m_breakpoints = std::move(breakpoints);
}

void DryRunPanel::setTravelLimits(const QString& axis, const QString& limits) {
    m_settingLimits = true;
    chkDryTravel->setText(QStringLiteral("Travel limits of axis %1").arg(axis));
    const QStringList parts = limits.split(QLatin1Char(','));
    bool lowOk = false;
    bool highOk = false;
    const int low = parts.value(0).toInt(&lowOk);
    const int high = parts.value(1).toInt(&highOk);
    const bool set = parts.size() == 2 && lowOk && highOk && low <= high;
    chkDryTravel->setChecked(set);
    if (set) {
        spnDryTravelLow->setValue(low);
        spnDryTravelHigh->setValue(high);
    }
    m_settingLimits = false;
    refresh();
}

QString DryRunPanel::travelLimits() const {
    return chkDryTravel->isChecked() ? QStringLiteral("%1,%2")
                                           .arg(spnDryTravelLow->value())
                                           .arg(spnDryTravelHigh->value())
                                     : QString();
}

void DryRunPanel::reset() {
    // A trace on its way, or one whose fit is being taken, stays shown.
    if (!m_trace->tracing() && !m_applyingFit)
        leaveTrace();
    m_timer->stop();
    m_running = false;
    m_stopBefore = -1;
    m_run.reset();
    m_time = 0;
    m_recentLines.clear();
    m_linesRun = 0;
    m_linesListed = 0;
    lstDryExecuted->clear();
    pltDryRun->setData({});
    pltDryRun->setTimeCursor(-1);
    ensureRun();
    refresh();
    emit currentLineChanged(m_run && m_run->end() == RunEnd::Running ? m_run->next() : -1);
}

RunSettings DryRunPanel::settingsShown(QString* why) const {
    RunSettings settings;
    settings.record = true;
    settings.limit = spnDryTimeLimit->value();
    settings.stepsPerSecondSquaredPerA = spnDryAccelUnit->value();
    settings.movesHold = chkDryMovesHold->isChecked();
    const QString schedule = txtDrySchedule->text().trimmed();
    if (schedule.isEmpty()) {
        settings.holdForInputs = true;
    } else if (const auto inputs = parseInputSchedule(schedule, why)) {
        settings.inputs = *inputs;
    }
    return settings;
}

void DryRunPanel::followBoxes() {
    if (!m_run)
        return;
    QString why;
    const RunSettings shown = settingsShown(&why);
    const RunSettings& made = m_run->settings();
    const bool same = shown.stepsPerSecondSquaredPerA == made.stepsPerSecondSquaredPerA &&
                      shown.movesHold == made.movesHold &&
                      txtDrySchedule->text().trimmed() == m_runSchedule;
    const bool limitOnly = onTick(shown.limit) != made.limit;
    if (same && !limitOnly)
        return;
    // A longer limit goes on from where the run stands, unless the old one
    // already ended it; anything else is a run of its own.
    if (same && m_run->end() == RunEnd::Running) {
        m_run->setLimit(shown.limit);
        refresh();
        return;
    }
    const bool wasRunning = m_running;
    reset();
    if (wasRunning)
        startRun();
}

bool DryRunPanel::ensureRun() {
    if (m_run)
        return true;
    QString why;
    const RunSettings settings = settingsShown(&why);
    if (!why.isEmpty()) {
        lblDryFindings->setText(why);
        return false;
    }
    m_runSchedule = txtDrySchedule->text().trimmed();
    m_runCommands = m_commands ? m_commands() : QStringList();
    m_runListing = m_listing ? m_listing() : QStringList();
    m_run = std::make_unique<Executor>(
        stepsFromCommands(m_runCommands), settings, [this](const ExecutedLine& line) {
            m_recentLines.push_back(line);
            if (m_recentLines.size() > static_cast<size_t>(ListedLines))
                m_recentLines.pop_front();
            ++m_linesRun;
        });
    if (m_runSchedule.isEmpty())
        m_run->setInputs(inputPattern(), 0);
    return true;
}

void DryRunPanel::programChanged() {
    if (m_run && (m_commands ? m_commands() : QStringList()) != m_runCommands)
        reset();
}

void DryRunPanel::runOrPause() {
    if (m_running)
        pause();
    else
        startRun();
}

void DryRunPanel::startRun() {
    if (m_trace->tracing())
        return;
    leaveTrace();
    followBoxes();
    if (m_run && m_run->end() != RunEnd::Running)
        reset();
    if (!ensureRun() || m_run->end() != RunEnd::Running)
        return;
    m_running = true;
    m_lastTick = m_clock.now();
    emit currentLineChanged(-1);
    tick();
}

void DryRunPanel::pause() {
    if (!m_running)
        return;
    stopped();
}

void DryRunPanel::stepLine() {
    if (m_trace->tracing())
        return;
    leaveTrace();
    m_timer->stop();
    m_running = false;
    followBoxes();
    if (!ensureRun())
        return;
    m_run->step();
    m_time = m_run->now();
    stopped();
}

void DryRunPanel::runToChosenLine() {
    const int row = m_chosenLine ? m_chosenLine() : -1;
    if (row < 0)
        return;
    if (m_run && m_run->end() != RunEnd::Running)
        reset();
    m_stopBefore = row;
    startRun();
}

void DryRunPanel::tick() {
    if (!m_running || !m_run)
        return;
    const double now = m_clock.now();
    const int speed = cboDrySpeed->currentIndex();
    if (speed == 2) {
        advance(m_run->settings().limit, LinesPerTick);
        m_time = m_run->now();
    } else {
        m_time += (now - m_lastTick) * (speed == 0 ? 1.0 : 10.0);
        advance(m_time, LinesPerTick);
        if (m_run->end() != RunEnd::Running)
            m_time = m_run->now();
    }
    m_lastTick = now;
    if (!m_running)
        return;
    if (m_run->end() != RunEnd::Running || m_run->holding()) {
        stopped();
        return;
    }
    refresh();
    m_timer->start(TickSeconds);
}

void DryRunPanel::advance(double until, qint64 lines) {
    std::vector<bool> stops = m_breakpoints;
    if (m_stopBefore >= 0) {
        if (stops.size() <= static_cast<size_t>(m_stopBefore))
            stops.resize(static_cast<size_t>(m_stopBefore) + 1, false);
        stops[static_cast<size_t>(m_stopBefore)] = true;
    }
    if (m_run->runUntil(until, &stops, lines)) {
        m_time = m_run->now();
        stopped();
    }
}

int DryRunPanel::standingStep() const {
    if (!m_run || m_run->end() != RunEnd::Running)
        return -1;
    // Shown before the run's time, the run stands in the line that waits.
    if (m_time < m_run->now())
        return m_run->lastStep();
    return m_run->next() < m_run->steps().size() ? m_run->next() : -1;
}

void DryRunPanel::stopped() {
    m_timer->stop();
    m_running = false;
    m_stopBefore = -1;
    refresh();
    emit currentLineChanged(standingStep());
}

int DryRunPanel::inputPattern() const {
    int pattern = 0;
    for (int i = 0; i < 4; ++i)
        if (chkDryInput[i]->isChecked())
            pattern |= 1 << i;
    return pattern;
}

void DryRunPanel::refresh() {
    cmdDryPause->setEnabled(m_running);
    if (!m_run) {
        lblDryWatch->setText(QStringLiteral("Not started."));
        return;
    }
    const Executor& run = *m_run;
    // A loop "& a _ t" branches back t times: its body runs t + 1 times.
    QStringList loops;
    for (const auto& [step, left] : run.loopsRemaining()) {
        const RunStep& loop = run.steps().at(step);
        loops << QStringLiteral("line %1 (runs %2 times): %3 left")
                     .arg(loop.line)
                     .arg(std::clamp<qint64>(loop.operands[1], 0, 65535) + 1)
                     .arg(left);
    }
    const bool moving = run.movingAt(m_time);
    QString where;
    if (!m_running && run.end() == RunEnd::Running && standingStep() >= 0) {
        const int step = standingStep();
        const bool breakpoint = step < static_cast<int>(m_breakpoints.size()) &&
                                m_breakpoints[static_cast<size_t>(step)];
        where = (m_time < run.now() ? QStringLiteral("   Waiting in line %1%2")
                                    : QStringLiteral("   Paused before line %1%2"))
                    .arg(run.steps().at(step).line)
                    .arg(breakpoint && m_time >= run.now() ? QStringLiteral(" (breakpoint)")
                                                           : QString());
    }
    lblDryModel->setText(QStringLiteral("The model that ran: ") +
                         run.assumptions().mid(0, 2).join(QStringLiteral("; ")) + QLatin1Char('.'));
    lblDryWatch->setText(
        QStringLiteral("Time %1 s%2%9\nPosition %3   Speed %4 steps/s   Direction %5\n"
                       "Outputs %6   Inputs %7\nLoops: %8")
            .arg(m_time, 0, 'f', 3)
            .arg(run.timedByModel() ? QStringLiteral(" estimated (model)") : QString())
            .arg(run.positionAt(m_time))
            .arg(moving ? run.speedAt(m_time) : 0.0, 0, 'f', 0)
            .arg(run.clockwise() ? QStringLiteral("CW") : QStringLiteral("CCW"))
            .arg(program::SwitchStateText(run.outputs() & 3))
            .arg(run.inputs())
            .arg(loops.isEmpty() ? QStringLiteral("none") : loops.join(QStringLiteral(", ")))
            .arg(where));
    appendExecuted();
    // While it runs the plot follows a few times a second.
    if (showsTrace()) {
        // The trace's plot stands until the next run.
    } else if (!m_running || run.end() != RunEnd::Running || ++m_ticksSincePlot >= 5) {
        pltDryRun->setData(plotDataOf(run));
        m_ticksSincePlot = 0;
    }
    if (!showsTrace())
        pltDryRun->setTimeCursor(m_time);
    // Beside a trace, what the unit did is the finding.
    lblDryFindings->setText(showsTrace() ? QString() : findings());
}

void DryRunPanel::appendExecuted() {
    // The lines run since the list was last filled, as far as they are kept.
    qint64 fresh =
        std::min<qint64>(m_linesRun - m_linesListed, static_cast<qint64>(m_recentLines.size()));
    m_linesListed = m_linesRun;
    if (fresh >= ListedLines)
        lstDryExecuted->clear();
    for (auto line = m_recentLines.end() - fresh; line != m_recentLines.end(); ++line) {
        const RunStep& step = m_run->steps().at(line->step);
        // The listing's words; the stored form in the tool tip.
        const QString stored = program::StripCrLf(step.text);
        const QString listed = m_runListing.value(line->step);
        const QString words = !listed.isEmpty() && listed != QLatin1String("!")
                                  ? listed
                                  : program::ListingText(step.text, step.line).value_or(stored);
        auto* item = new QListWidgetItem(QStringLiteral("%1 s   line %2   %3")
                                             .arg(line->at, 0, 'f', 3)
                                             .arg(step.line)
                                             .arg(words));
        item->setToolTip(stored);
        item->setData(Qt::UserRole, line->step);
        lstDryExecuted->addItem(item);
    }
    while (lstDryExecuted->count() > ListedLines)
        delete lstDryExecuted->takeItem(0);
    if (fresh > 0)
        lstDryExecuted->scrollToBottom();
}

QString DryRunPanel::findings() const {
    if (!m_run)
        return {};
    std::optional<QPair<qint64, qint64>> limits;
    if (chkDryTravel->isChecked())
        limits = qMakePair<qint64, qint64>(spnDryTravelLow->value(), spnDryTravelHigh->value());
    return runFindings(*m_run, m_time, limits);
}

void DryRunPanel::chooseTime(double seconds) {
    if (!m_run || m_run->executed().isEmpty())
        return;
    const QList<ExecutedLine>& executed = m_run->executed();
    // The line that was running then: the last one to start by that time.
    auto after = std::upper_bound(executed.begin(), executed.end(), seconds,
                                  [](double t, const ExecutedLine& line) { return t < line.at; });
    if (after != executed.begin())
        --after;
    emit lineChosen(after->step);
}

QString DryRunPanel::plotName() const {
    const QString name = m_plotName ? m_plotName() : QString();
    return (name.isEmpty() ? QStringLiteral("dry-run") : name) + QStringLiteral("-plot");
}

QString DryRunPanel::savePlot(const QString& path) const {
    if (!m_run && !showsTrace())
        return QStringLiteral("Run the program first: there is nothing to plot yet.");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    bool written = false;
    if (path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
        const QByteArray svg =
            showsTrace() ? m_trace->svg() : runPlotSvg(*m_run);
        written = file.write(svg) == svg.size();
    } else {
        written = pltDryRun->image(QSize(1200, 520)).save(&file, "PNG");
    }
    if (!written || !file.commit())
        return file.errorString().isEmpty() ? QStringLiteral("the image could not be written")
                                            : file.errorString();
    return {};
}

RunSettings DryRunPanel::modelShown() const {
    RunSettings settings;
    settings.stepsPerSecondSquaredPerA = spnDryAccelUnit->value();
    settings.movesHold = chkDryMovesHold->isChecked();
    return settings;
}

double DryRunPanel::traceLimit() const {
    return spnDryTimeLimit->value();
}

void DryRunPanel::showTraceButtons() {
    const bool tracing = m_trace->tracing();
    cmdDryTrace->setEnabled(!tracing);
    cmdDryTraceStop->setEnabled(tracing);
    // Nothing that opens a dialog of its own while the unit is read: the
    // readings would wait for it.
    for (QPushButton* control : {cmdDryRun, cmdDryStep, cmdDryRunToLine, cmdDryReset, cmdDrySavePlot})
        control->setEnabled(!tracing);
}

bool DryRunPanel::isTracing() const {
    return m_trace->tracing();
}

bool DryRunPanel::showsTrace() const {
    return m_trace->shown();
}

void DryRunPanel::tracePhase(const QString& phase) {
    m_trace->phase(phase);
}

void DryRunPanel::traceStarted(const QList<RunStep>& steps, const RunSettings& settings) {
    m_timer->stop();
    m_running = false;
    m_trace->started(steps, settings);
    showTraceButtons();
}

void DryRunPanel::traceSample(const TraceSample& sample) {
    m_trace->sample(sample);
}

void DryRunPanel::traceEnded(const QStringList& report, std::unique_ptr<Executor> model,
                             const MeasuredCurve& measured, const std::optional<AccelFit>& fit) {
    m_trace->ended(report, std::move(model), measured, fit);
    showTraceButtons();
}

void DryRunPanel::traceRefused(const QString& why) {
    m_trace->refused(why);
    showTraceButtons();
}

void DryRunPanel::useFit() {
    const std::optional<int> unit = m_trace->fittedUnit();
    if (!unit)
        return;
    // The trace stays, with the model now run with the fitted value.
    m_applyingFit = true;
    spnDryAccelUnit->setValue(*unit);
    m_applyingFit = false;
    m_trace->takeFit();
    emit accelUnitChosen(*unit);
}

void DryRunPanel::leaveTrace() {
    m_trace->leave();
}

} // namespace kqm::dryrun
