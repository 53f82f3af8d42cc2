#include "dryrun/dry_run_panel.h"

#include "dryrun/run_plot.h"
#include "dryrun/run_report.h"
#include "platform/clock.h"
#include "platform/object_names.h"
#include "program/command_set.h"

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
    auto* controls = new QHBoxLayout;
    for (QWidget* widget :
         {static_cast<QWidget*>(cmdDryRun), static_cast<QWidget*>(cmdDryPause),
          static_cast<QWidget*>(cmdDryStep), static_cast<QWidget*>(cmdDryRunToLine),
          static_cast<QWidget*>(cmdDryReset), static_cast<QWidget*>(cboDrySpeed)})
        controls->addWidget(widget);

    lblDryWatch = named(new QLabel, "lblDryWatch");
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
    txtDrySchedule = named(new QLineEdit, "txtDrySchedule");
    txtDrySchedule->setPlaceholderText(QStringLiteral("or a schedule: 0:5,2.5:0"));
    inputs->addWidget(txtDrySchedule, 1);

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
    auto* model = new QHBoxLayout;
    model->addWidget(new QLabel(QStringLiteral("Model:")));
    model->addWidget(spnDryAccelUnit);
    model->addWidget(chkDryMovesHold);
    model->addStretch(1);
    auto* limits = new QHBoxLayout;
    limits->addWidget(new QLabel(QStringLiteral("Time limit:")));
    limits->addWidget(spnDryTimeLimit);
    limits->addWidget(chkDryTravel);
    limits->addWidget(spnDryTravelLow);
    limits->addWidget(new QLabel(QStringLiteral("to")));
    limits->addWidget(spnDryTravelHigh);
    limits->addStretch(1);

    lstDryExecuted = named(new QListWidget, "lstDryExecuted");
    pltDryRun = named(new RunPlot, "pltDryRun");
    lblDryFindings = named(new QLabel, "lblDryFindings");
    lblDryFindings->setWordWrap(true);
    lblDryFindings->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addLayout(inputs);
    layout->addLayout(limits);
    layout->addLayout(model);
    layout->addWidget(lblDryWatch);
    layout->addWidget(pltDryRun, 2);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(lstDryExecuted, 1);
    auto* side = new QVBoxLayout;
    side->addWidget(lblDryFindings, 1);
    side->addWidget(cmdDrySavePlot);
    bottom->addLayout(side, 1);
    layout->addLayout(bottom, 1);

    connect(cmdDryRun, &QPushButton::clicked, this, &DryRunPanel::startRun);
    connect(cmdDryPause, &QPushButton::clicked, this, &DryRunPanel::pause);
    connect(cmdDryStep, &QPushButton::clicked, this, &DryRunPanel::stepLine);
    connect(cmdDryRunToLine, &QPushButton::clicked, this, &DryRunPanel::runToChosenLine);
    connect(cmdDryReset, &QPushButton::clicked, this, &DryRunPanel::reset);
    connect(cmdDrySavePlot, &QPushButton::clicked, this, &DryRunPanel::savePlotRequested);
    connect(lstDryExecuted, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { emit lineChosen(item->data(Qt::UserRole).toInt()); });
    connect(pltDryRun, &RunPlot::timeClicked, this, &DryRunPanel::chooseTime);
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
    m_timer->stop();
    m_running = false;
    m_stopBefore = -1;
    m_run.reset();
    m_time = 0;
    m_listed = 0;
    lstDryExecuted->clear();
    pltDryRun->setData({});
    pltDryRun->setTimeCursor(-1);
    ensureRun();
    refresh();
    emit currentLineChanged(m_run && m_run->end() == RunEnd::Running ? m_run->next() : -1);
}

bool DryRunPanel::ensureRun() {
    if (m_run)
        return true;
    RunSettings settings;
    settings.record = true;
    settings.limit = spnDryTimeLimit->value();
    settings.stepsPerSecondSquaredPerA = spnDryAccelUnit->value();
    settings.movesHold = chkDryMovesHold->isChecked();
    const QString schedule = txtDrySchedule->text().trimmed();
    if (!schedule.isEmpty()) {
        QString why;
        const auto inputs = parseInputSchedule(schedule, &why);
        if (!inputs) {
            lblDryFindings->setText(why);
            return false;
        }
        settings.inputs = *inputs;
    } else {
        settings.holdForInputs = true;
    }
    m_run = std::make_unique<Executor>(stepsFromCommands(m_commands ? m_commands() : QStringList()),
                                       settings);
    if (schedule.isEmpty())
        m_run->setInputs(inputPattern(), 0);
    return true;
}

void DryRunPanel::startRun() {
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
    m_timer->stop();
    m_running = false;
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

void DryRunPanel::stopped() {
    m_timer->stop();
    m_running = false;
    m_stopBefore = -1;
    refresh();
    emit currentLineChanged(m_run && m_run->end() == RunEnd::Running ? m_run->next() : -1);
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
    QStringList loops;
    for (const auto& [step, left] : run.loopsRemaining())
        loops << QStringLiteral("line %1: %2 left").arg(run.steps().at(step).line).arg(left);
    const bool moving = run.movingAt(m_time);
    lblDryWatch->setText(
        QStringLiteral("Time %1 s%2\nPosition %3   Speed %4 steps/s   Direction %5\n"
                       "Outputs %6   Inputs %7\nLoops: %8")
            .arg(m_time, 0, 'f', 3)
            .arg(run.timedByModel() ? QStringLiteral(" estimated (model)") : QString())
            .arg(run.positionAt(m_time))
            .arg(moving ? run.speed() : 0.0, 0, 'f', 0)
            .arg(run.clockwise() ? QStringLiteral("CW") : QStringLiteral("CCW"))
            .arg(program::SwitchStateText(run.outputs() & 3))
            .arg(run.inputs())
            .arg(loops.isEmpty() ? QStringLiteral("none") : loops.join(QStringLiteral(", "))));
    appendExecuted();
    if (!m_running || run.end() != RunEnd::Running)
        pltDryRun->setData(plotDataOf(run));
    pltDryRun->setTimeCursor(m_time);
    lblDryFindings->setText(findings());
}

void DryRunPanel::appendExecuted() {
    const QList<ExecutedLine>& executed = m_run->executed();
    if (executed.size() - m_listed > ListedLines)
        m_listed = executed.size() - ListedLines;
    for (; m_listed < executed.size(); ++m_listed) {
        const ExecutedLine& line = executed.at(m_listed);
        const RunStep& step = m_run->steps().at(line.step);
        auto* item = new QListWidgetItem(QStringLiteral("%1 s   line %2   %3")
                                             .arg(line.at, 0, 'f', 3)
                                             .arg(step.line)
                                             .arg(program::StripCrLf(step.text)));
        item->setData(Qt::UserRole, line.step);
        lstDryExecuted->addItem(item);
    }
    while (lstDryExecuted->count() > ListedLines)
        delete lstDryExecuted->takeItem(0);
    lstDryExecuted->scrollToBottom();
}

QString DryRunPanel::findings() const {
    if (!m_run)
        return {};
    const Executor& run = *m_run;
    QStringList found;
    const QString estimated = run.timedByModel() ? QStringLiteral(" estimated (model)") : QString();
    const int line = run.endStep() >= 0 ? run.steps().at(run.endStep()).line : 0;
    switch (run.end()) {
    case RunEnd::Running:
        if (run.holding() && run.next() < run.steps().size()) {
            const RunStep& waiting = run.steps().at(run.next());
            found << (waiting.letter == 'U'
                          ? QStringLiteral("Line %1 waits for inputs 1 and 2 to be %2: switch the "
                                           "inputs.")
                                .arg(waiting.line)
                                .arg(
                                    program::SwitchStateText(static_cast<int>(waiting.operands[1])))
                          : QStringLiteral("The program waits for the inputs to change: switch "
                                           "them."));
        }
        break;
    case RunEnd::Quit:
        found << QStringLiteral("Cycle time: %1 s%2, from the start to Quit at line %3.")
                     .arg(run.now(), 0, 'f', 3)
                     .arg(estimated)
                     .arg(line);
        break;
    case RunEnd::Limit:
        found << QStringLiteral("Endless: %1.").arg(run.finding());
        break;
    case RunEnd::NotSimulated:
        found << QStringLiteral("Stopped at line %1, not simulated: %2.")
                     .arg(line)
                     .arg(run.endReason());
        break;
    }
    if (run.end() == RunEnd::Quit && !run.finding().isEmpty())
        found << run.finding() + QLatin1Char('.');
    found << QStringLiteral("Travel: %1 to %2 steps.").arg(run.lowest()).arg(run.highest());
    if (chkDryTravel->isChecked() &&
        (run.lowest() < spnDryTravelLow->value() || run.highest() > spnDryTravelHigh->value()))
        found << QStringLiteral("Warning: the travel passes the limits %1 to %2.")
                     .arg(spnDryTravelLow->value())
                     .arg(spnDryTravelHigh->value());
    return found.join(QLatin1Char('\n'));
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

QString DryRunPanel::savePlot(const QString& path) const {
    if (!m_run)
        return QStringLiteral("Run the program first: there is nothing to plot yet.");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    bool written = false;
    if (path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
        const QByteArray svg = runPlotSvg(*m_run);
        written = file.write(svg) == svg.size();
    } else {
        written = pltDryRun->image(QSize(1200, 520)).save(&file, "PNG");
    }
    if (!written || !file.commit())
        return file.errorString().isEmpty() ? QStringLiteral("the image could not be written")
                                            : file.errorString();
    return {};
}

} // namespace kqm::dryrun
