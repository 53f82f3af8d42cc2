#include "main_window/dry_run_dock.h"

#include "dryrun/dry_run_panel.h"
#include "files/program_files.h"
#include "main_window/program_tab.h"
#include "main_window/session.h"
#include "platform/app_paths.h"
#include "platform/file_dialogs.h"
#include "platform/messages.h"
#include "transfer/transfer_log.h"
#include "transfer/unit_trace.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMainWindow>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>

namespace kqm::ui {

DryRunDock::DryRunDock(Session& session, ProgramTab& programTab,
                       std::function<void()> showProgramTab, QWidget* parent)
    : QDockWidget(QStringLiteral("Dry Run"), parent), m_session(session), m_programTab(programTab),
      m_showProgramTab(std::move(showProgramTab)),
      m_panel(new dryrun::DryRunPanel(session.services.clock)) {
    setObjectName(QStringLiteral("dckDryRun"));
    m_panel->setObjectName(QStringLiteral("DryRunPanel"));
    // Below the panel's own size it scrolls: no control is ever cut off.
    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("scrDryRun"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(m_panel);
    setWidget(scroll);

    m_panel->setProgramSource([this] {
        QStringList commands;
        for (const program::ProgramRow& row : m_programTab.rows())
            commands << row.command;
        return commands;
    });
    m_panel->setChosenLineSource([this] { return m_programTab.selectedRow().value_or(-1); });
    m_panel->setListingSource([this] {
        QStringList listing;
        for (const program::ProgramRow& row : m_programTab.rows())
            listing << row.listing;
        return listing;
    });
    // The plot is named after the program; the working copy has no name.
    m_panel->setPlotName([this] {
        const QString path = m_session.document.path();
        return files::sameFile(path, m_session.files.workingCopy)
                   ? QStringLiteral("untitled")
                   : QFileInfo(path).completeBaseName();
    });
    connect(m_panel, &dryrun::DryRunPanel::currentLineChanged, this, [this](int row) {
        m_line = row;
        m_programTab.setRunMarks(m_breakpoints, row);
    });
    connect(m_panel, &dryrun::DryRunPanel::lineChosen, this, [this](int row) {
        m_showProgramTab();
        m_programTab.selectRow(row);
    });
    connect(m_panel, &dryrun::DryRunPanel::savePlotRequested, this, &DryRunDock::savePlot);
    // A run is of the program the grid shows: another file, or a change to
    // this one, starts it over (another file's lines have no breakpoints).
    connect(&session.document, &program::ProgramDocument::boundFileChanged, this, [this] {
        m_breakpoints.clear();
        m_panel->setBreakpoints({});
        m_programTab.setRunMarks({}, -1);
        if (m_panel->run())
            m_panel->reset();
    });
    connect(&session.document, &program::ProgramDocument::rowsChanged, m_panel,
            &dryrun::DryRunPanel::programChanged);
    connect(m_panel, &dryrun::DryRunPanel::traceRequested, this, &DryRunDock::traceOnUnit);
    // The panel's Stop is Stop Motion's: the trace ends and the unit stops.
    connect(m_panel, &dryrun::DryRunPanel::traceStopRequested, this,
            [this] { m_session.link.stopMotion(); });
    connect(m_panel, &dryrun::DryRunPanel::accelUnitChosen, this, [this](int unit) {
        m_session.settings.setPreference(accelUnitPreference(), QString::number(unit));
    });
    connect(m_panel, &dryrun::DryRunPanel::travelLimitsChanged, this,
            [this](const QString& limits) {
                m_session.settings.setPreference(travelLimitsPreference(), limits);
            });
}

void DryRunDock::addRunActions(QMenu* menu) {
    menu->addSeparator();
    for (QAction* action : m_panel->runActions()) {
        menu->addAction(action);
        action->setEnabled(false);
        connect(this, &QDockWidget::visibilityChanged, action, &QAction::setEnabled);
    }
}

void shareWhenBothShown(QMainWindow* window, QDockWidget* first, QDockWidget* second) {
    const auto share = [window, first, second](QDockWidget* shown) {
        QDockWidget* other = shown == first ? second : first;
        if (!other->isVisible() || other->isFloating() || shown->isFloating() ||
            !window->tabifiedDockWidgets(shown).isEmpty())
            return;
        // In the first one's place (beside the tabs, where the window has
        // room to spare on a short screen).
        window->tabifyDockWidget(first, second);
        shown->raise();
    };
    for (QDockWidget* dock : {first, second}) {
        QObject::connect(dock->toggleViewAction(), &QAction::toggled, dock, [dock, share](bool on) {
            if (on)
                share(dock);
        });
    }
}

QString DryRunDock::travelLimitsPreference() const {
    return QStringLiteral("DryRunTravelLimitsAxis%1").arg(m_session.linkState().AxisAddress);
}

QString DryRunDock::accelUnitPreference() const {
    return QStringLiteral("DryRunAccelUnitAxis%1").arg(m_session.linkState().AxisAddress);
}

void DryRunDock::showTravelLimits() {
    m_panel->setTravelLimits(
        m_session.linkState().AxisAddress,
        m_session.settings.preference(travelLimitsPreference()).value_or(QString()));
    // A fitted acceleration unit is the axis's, as its travel limits are.
    bool ok = false;
    const int unit =
        m_session.settings.preference(accelUnitPreference()).value_or(QString()).toInt(&ok);
    if (ok && unit > 0)
        m_panel->spnDryAccelUnit->setValue(unit);
}

void DryRunDock::traceOnUnit() {
    link::Link& link = m_session.link;
    if (link.exchanges().refuseWhenBusy())
        return;
    if (!m_session.linkState().UnitConnected) {
        link.exchanges().reportNotConnected();
        return;
    }
    const QString program = m_session.document.path();
    transfer::TraceRequest request;
    request.programFile = program;
    request.model = m_panel->modelShown();
    request.limit = m_panel->traceLimit();
    request.logFile = transfer::transferLogPath(m_session.services.paths.userDataDirectory());
    transfer::TraceCallbacks callbacks;
    callbacks.phase = [this](const QString& phase) { m_panel->tracePhase(phase); };
    callbacks.started = [this](const QList<dryrun::RunStep>& steps,
                               const dryrun::RunSettings& settings, double) {
        m_panel->traceStarted(steps, settings);
    };
    callbacks.sample = [this](const dryrun::TraceSample& sample) { m_panel->traceSample(sample); };
    // The panel's controls follow the trace; the window's, the link's busy state.
    m_panel->tracePhase(QStringLiteral("starting"));
    const transfer::TraceResult result =
        transfer::traceUnit(link, m_session.services.clock, request, callbacks);
    if (!result.ran()) {
        const QString why = result.message.isEmpty() ? QStringLiteral("nothing ran")
                                                     : result.message;
        m_panel->traceRefused(QStringLiteral("Trace: ") + why);
        if (result.end == transfer::TraceEnd::NotInStep)
            m_session.services.messages.show(platform::MessageIcon::Information,
                                             QStringLiteral("Nothing was run: %1.").arg(why));
        return;
    }
    const std::optional<dryrun::AccelFit> fit = transfer::fitOf(result);
    m_panel->traceEnded(transfer::traceReportLines(result), transfer::tracedModelRun(result),
                        transfer::measuredCurve(result.samples), fit);
    // The report comes into view under its plot.
    if (auto* scroll = qobject_cast<QScrollArea*>(widget())) {
        m_panel->adjustSize();
        scroll->ensureWidgetVisible(m_panel->cmdDryUseFit->isVisible()
                                        ? static_cast<QWidget*>(m_panel->cmdDryUseFit)
                                        : m_panel->lblDryTrace);
    }
}

void DryRunDock::fitWidth() {
    // As wide as the panel with its scroll bar, so that it scrolls up and
    // down only; in a window too narrow for that beside the tabs (large
    // text), sideways too, and the tabs keep their room.
    auto* scroll = qobject_cast<QScrollArea*>(widget());
    auto* window = qobject_cast<QMainWindow*>(parentWidget());
    if (!scroll || !window || !window->centralWidget())
        return;
    const int whole =
        m_panel->minimumSizeHint().width() + scroll->verticalScrollBar()->sizeHint().width() + 4;
    const int room = window->width() - window->centralWidget()->minimumSizeHint().width() - 24;
    scroll->setMinimumWidth(std::clamp(room, 120, whole));
}

void DryRunDock::open() {
    fitWidth();
    showTravelLimits();
    m_showProgramTab();
    show();
    raise();
    m_panel->reset();
}

void DryRunDock::toggleBreakpoint() {
    const std::optional<int> row = m_programTab.selectedRow();
    if (!row)
        return;
    m_breakpoints.resize(static_cast<size_t>(m_programTab.rows().size()), false);
    if (static_cast<size_t>(*row) >= m_breakpoints.size())
        return;
    m_breakpoints[static_cast<size_t>(*row)] = !m_breakpoints[static_cast<size_t>(*row)];
    m_panel->setBreakpoints(m_breakpoints);
    m_programTab.setRunMarks(m_breakpoints, m_line);
}

void DryRunDock::savePlot() {
    const Services& services = m_session.services;
    // Beside the program; the working copy's plot goes to the user's data.
    const QString program = m_session.document.path();
    QString folder = files::sameFile(program, m_session.files.workingCopy) || program.isEmpty()
                         ? services.paths.userDataDirectory()
                         : QFileInfo(program).absolutePath();
    QDir().mkpath(folder);
    const std::optional<QString> path = services.fileDialogs.saveFileName(
        QDir(folder).filePath(m_panel->plotName() + QStringLiteral(".png")),
        QStringLiteral("PNG image (*.png);;SVG image (*.svg)"), QStringLiteral("Save Plot"));
    if (!path)
        return;
    const QString why = m_panel->savePlot(*path);
    if (!why.isEmpty())
        services.messages.show(platform::MessageIcon::Critical,
                               QStringLiteral("The plot could not be saved to %1: %2")
                                   .arg(QDir::toNativeSeparators(*path), why));
}

} // namespace kqm::ui
