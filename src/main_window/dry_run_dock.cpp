#include "main_window/dry_run_dock.h"

#include "dryrun/dry_run_panel.h"
#include "main_window/program_tab.h"
#include "main_window/session.h"
#include "platform/app_paths.h"
#include "platform/file_dialogs.h"
#include "platform/messages.h"

#include <QDir>

namespace kqm::ui {

DryRunDock::DryRunDock(Session& session, ProgramTab& programTab,
                       std::function<void()> showProgramTab, QWidget* parent)
    : QDockWidget(QStringLiteral("Dry Run"), parent), m_session(session), m_programTab(programTab),
      m_showProgramTab(std::move(showProgramTab)),
      m_panel(new dryrun::DryRunPanel(session.services.clock)) {
    setObjectName(QStringLiteral("dckDryRun"));
    m_panel->setObjectName(QStringLiteral("DryRunPanel"));
    setWidget(m_panel);
    m_panel->setProgramSource([this] {
        QStringList commands;
        for (const program::ProgramRow& row : m_programTab.rows())
            commands << row.command;
        return commands;
    });
    m_panel->setChosenLineSource([this] { return m_programTab.selectedRow().value_or(-1); });
    connect(m_panel, &dryrun::DryRunPanel::currentLineChanged, this, [this](int row) {
        m_line = row;
        m_programTab.setRunMarks(m_breakpoints, row);
    });
    connect(m_panel, &dryrun::DryRunPanel::lineChosen, this, [this](int row) {
        m_showProgramTab();
        m_programTab.selectRow(row);
    });
    connect(m_panel, &dryrun::DryRunPanel::savePlotRequested, this, &DryRunDock::savePlot);
    connect(m_panel, &dryrun::DryRunPanel::travelLimitsChanged, this,
            [this](const QString& limits) {
                m_session.settings.setPreference(travelLimitsPreference(), limits);
            });
}

QString DryRunDock::travelLimitsPreference() const {
    return QStringLiteral("DryRunTravelLimitsAxis%1").arg(m_session.linkState().AxisAddress);
}

void DryRunDock::showTravelLimits() {
    m_panel->setTravelLimits(
        m_session.linkState().AxisAddress,
        m_session.settings.preference(travelLimitsPreference()).value_or(QString()));
}

void DryRunDock::open() {
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
    const std::optional<QString> path = services.fileDialogs.saveFileName(
        services.paths.userDataDirectory(), QStringLiteral("PNG image (*.png);;SVG image (*.svg)"));
    if (!path)
        return;
    const QString why = m_panel->savePlot(*path);
    if (!why.isEmpty())
        services.messages.show(platform::MessageIcon::Critical,
                               QStringLiteral("The plot could not be saved to %1: %2")
                                   .arg(QDir::toNativeSeparators(*path), why));
}

} // namespace kqm::ui
