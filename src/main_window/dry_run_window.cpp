#include "main_window/main_window.h"

#include "main_window/program_tab.h"
#include "platform/app_paths.h"
#include "platform/file_dialogs.h"
#include "platform/messages.h"
#include "simulator/dry_run_panel.h"

#include <QAction>
#include <QDir>
#include <QDockWidget>
#include <QFileInfo>

// The dry run beside the grid: the program being edited, run on the
// executor; breakpoints and the line it stands at are marked in the grid.

namespace kqm::ui {

void Form1::createDryRun() {
    m_dryRun = new simulator::DryRunPanel(m_services.clock);
    m_dryRun->setObjectName(QStringLiteral("DryRunPanel"));
    dckDryRun = new QDockWidget(QStringLiteral("Dry Run"), this);
    dckDryRun->setObjectName(QStringLiteral("dckDryRun"));
    dckDryRun->setWidget(m_dryRun);
    addDockWidget(Qt::RightDockWidgetArea, dckDryRun);
    dckDryRun->hide();
    m_dryRun->setProgramSource([this] {
        QStringList commands;
        for (const program::ProgramRow& row : m_programTab->rows())
            commands << row.command;
        return commands;
    });
    m_dryRun->setChosenLineSource([this] { return m_programTab->selectedRow().value_or(-1); });
    connect(m_dryRun, &simulator::DryRunPanel::currentLineChanged, this, [this](int row) {
        m_dryRunLine = row;
        m_programTab->setRunMarks(m_breakpoints, row);
    });
    connect(m_dryRun, &simulator::DryRunPanel::lineChosen, this, [this](int row) {
        ShowProgramTab();
        m_programTab->selectRow(row);
    });
    connect(m_dryRun, &simulator::DryRunPanel::savePlotRequested, this, &Form1::saveDryRunPlot);
    connect(m_dryRun, &simulator::DryRunPanel::travelLimitsChanged, this,
            [this](const QString& limits) {
                m_session.settings.setPreference(travelLimitsPreference(), limits);
            });
    connect(mnuDryRun, &QAction::triggered, this, &Form1::openDryRun);
    connect(mnuToggleBreakpoint, &QAction::triggered, this, &Form1::toggleBreakpoint);
}

// The travel limits are the axis's: kept in the settings for each axis.
QString Form1::travelLimitsPreference() const {
    return QStringLiteral("DryRunTravelLimitsAxis%1").arg(m_session.linkState().AxisAddress);
}

void Form1::showTravelLimits() {
    if (m_dryRun)
        m_dryRun->setTravelLimits(
            m_session.linkState().AxisAddress,
            m_session.settings.preference(travelLimitsPreference()).value_or(QString()));
}

void Form1::openDryRun() {
    showTravelLimits();
    ShowProgramTab();
    dckDryRun->show();
    dckDryRun->raise();
    // Each opening runs the program as it is now.
    m_dryRun->reset();
}

void Form1::toggleBreakpoint() {
    const std::optional<int> row = m_programTab->selectedRow();
    if (!row)
        return;
    m_breakpoints.resize(static_cast<size_t>(m_programTab->rows().size()), false);
    if (static_cast<size_t>(*row) >= m_breakpoints.size())
        return;
    m_breakpoints[static_cast<size_t>(*row)] = !m_breakpoints[static_cast<size_t>(*row)];
    m_dryRun->setBreakpoints(m_breakpoints);
    m_programTab->setRunMarks(m_breakpoints, m_dryRunLine);
}

void Form1::saveDryRunPlot() {
    const std::optional<QString> path =
        m_services.fileDialogs.saveFileName(m_services.paths.userDataDirectory(),
                                            QStringLiteral("PNG image (*.png);;SVG image (*.svg)"));
    if (!path)
        return;
    const QString why = m_dryRun->savePlot(*path);
    if (!why.isEmpty())
        m_services.messages.show(platform::MessageIcon::Critical,
                                 QStringLiteral("The plot could not be saved to %1: %2")
                                     .arg(QDir::toNativeSeparators(*path), why));
}

} // namespace kqm::ui
