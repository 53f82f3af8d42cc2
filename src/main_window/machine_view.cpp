#include "main_window/machine_view.h"

#include "link/link.h"
#include "main_window/session.h"
#include "platform/app_paths.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "transfer/proven_pace.h"
#include "transfer/transfer_log.h"
#include "transfer/unit_backup.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kqm::ui {

namespace {

constexpr double PollInterval = 1.0;

QString stateText(const transfer::UnitStatus& status) {
    switch (status.state) {
    case transfer::UnitState::InStep:
        return QStringLiteral("in step");
    case transfer::UnitState::Differs:
        return QStringLiteral("differs (%1)").arg(status.detail);
    case transfer::UnitState::NoProgram:
        return QStringLiteral("no program");
    case transfer::UnitState::NoUnit:
        return QStringLiteral("no unit");
    case transfer::UnitState::WrongModel:
        return status.detail.isEmpty() ? QStringLiteral("wrong model")
                                       : QStringLiteral("wrong model: ") + status.detail;
    case transfer::UnitState::NotChecked:
        break;
    }
    return QStringLiteral("not checked");
}

QTableWidgetItem* cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

} // namespace

MachineView::MachineView(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session),
      m_poll(session.services.clock.createTimer([this] { pollNextPosition(); })) {
    lblMachine = new QLabel(this);
    lblMachine->setObjectName(QStringLiteral("lblMachine"));
    lblMachine->setTextFormat(Qt::PlainText);
    grdMachine = new QTableWidget(0, 6, this);
    grdMachine->setObjectName(QStringLiteral("grdMachine"));
    grdMachine->setHorizontalHeaderLabels({QStringLiteral("Axis"), QStringLiteral("Model"),
                                           QStringLiteral("Program"), QStringLiteral("State"),
                                           QStringLiteral("Position"), QStringLiteral("Progress")});
    grdMachine->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdMachine->setSelectionMode(QAbstractItemView::SingleSelection);
    grdMachine->verticalHeader()->hide();
    grdMachine->horizontalHeader()->setSectionResizeMode(ProgramColumn, QHeaderView::Stretch);
    for (const int column : {AxisColumn, ModelColumn, StateColumn, PositionColumn})
        grdMachine->horizontalHeader()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    const auto button = [this](const QString& caption, const char* name) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        return b;
    };
    cmdCheckAll = button(QStringLiteral("&Check All"), "cmdCheckAll");
    cmdSendAll = button(QStringLiteral("Send A&ll"), "cmdSendAll");
    cmdStopMachine = button(QStringLiteral("S&top"), "cmdStopMachine");
    cmdUseProgram = button(QStringLiteral("&Use Open Program"), "cmdUseProgram");
    cmdUseProgram->setToolTip(
        QStringLiteral("The program file open in the editor becomes the chosen unit's"));
    cmdSaveMachine = button(QStringLiteral("Sa&ve Machine"), "cmdSaveMachine");
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {cmdCheckAll, cmdSendAll, cmdStopMachine, cmdUseProgram, cmdSaveMachine})
        buttons->addWidget(b);
    buttons->addStretch();
    lblMachineSummary = new QLabel(this);
    lblMachineSummary->setObjectName(QStringLiteral("lblMachineSummary"));
    lblMachineSummary->setTextFormat(Qt::PlainText);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblMachine);
    layout->addWidget(grdMachine);
    layout->addWidget(lblMachineSummary);
    layout->addLayout(buttons);
    showBusy(m_session.link.exchanges().isBusy());
    connect(&m_session.link, &link::Link::busyChanged, this, &MachineView::showBusy);

    connect(cmdCheckAll, &QPushButton::clicked, this, &MachineView::checkAll);
    connect(cmdSendAll, &QPushButton::clicked, this, &MachineView::sendAll);
    connect(cmdStopMachine, &QPushButton::clicked, this, [this] { m_session.link.stopMotion(); });
    connect(cmdUseProgram, &QPushButton::clicked, this, [this] {
        const QString program = m_openProgram ? m_openProgram() : QString();
        if (program.isEmpty()) {
            m_session.services.messages.show(
                platform::MessageIcon::Information,
                QStringLiteral("The program being edited has no file of its own yet: save it "
                               "under a name first."));
            return;
        }
        useProgramForChosenUnit(program);
    });
    connect(cmdSaveMachine, &QPushButton::clicked, this, &MachineView::save);
    connect(grdMachine, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
        if (row >= 0 && row < m_machine.units.size())
            emit unitOpened(m_machine.units.at(row).axis, m_machine.units.at(row).program);
    });
}

MachineView::~MachineView() = default;

void MachineView::setMachine(const QString& path, const files::Machine& machine) {
    if (m_session.link.exchanges().isBusy())
        return; // a run's rows stay as they are
    m_path = path;
    m_machine = machine;
    m_states.fill(transfer::UnitState::NotChecked, machine.units.size());
    m_found = QStringList(static_cast<int>(machine.units.size()), QString());
    lblMachineSummary->clear();
    lblMachine->setText(
        QStringLiteral("%1 (%2)").arg(machine.name, QDir::toNativeSeparators(path)));
    grdMachine->setRowCount(static_cast<int>(machine.units.size()));
    m_bars.clear();
    for (int row = 0; row < machine.units.size(); ++row) {
        const files::MachineUnit& unit = machine.units.at(row);
        grdMachine->setItem(row, AxisColumn, cell(QString::number(unit.axis)));
        grdMachine->setItem(row, ModelColumn, cell(unit.model.value_or(QString())));
        grdMachine->setItem(row, ProgramColumn, cell(QFileInfo(unit.program).fileName()));
        grdMachine->item(row, ProgramColumn)
            ->setToolTip(QDir::toNativeSeparators(unit.program).toHtmlEscaped());
        grdMachine->setItem(row, StateColumn, cell(stateText({})));
        grdMachine->setItem(row, PositionColumn, cell(QString()));
        auto* bar = new QProgressBar;
        bar->setObjectName(QStringLiteral("prgUnit(%1)").arg(row));
        bar->setRange(0, 100);
        bar->setValue(0);
        grdMachine->setCellWidget(row, ProgressColumn, bar);
        m_bars << bar;
    }
    m_pollRow = -1;
    m_poll->start(PollInterval);
}

void MachineView::checkAll() {
    run(false);
}

void MachineView::sendAll() {
    run(true);
}

void MachineView::run(bool send) {
    if (m_machine.units.isEmpty() || m_session.link.exchanges().refuseWhenBusy())
        return;
    if (!m_session.link.isPortOpen()) {
        m_session.services.messages.show(
            platform::MessageIcon::Information,
            QStringLiteral("The serial port is not open: choose Setup > Connect first."));
        return;
    }
    transfer::MachineRunOptions options;
    options.send = send;
    options.places =
        transfer::SendPlaces::of(m_session.services.paths.userDataDirectory(), &m_session.settings);
    options.places.portNumber = m_session.linkState().ComPortNumber;
    options.machineFile = m_path;
    transfer::MachineRunCallbacks callbacks;
    // Stop Motion from anywhere ends the run (the link's long exchange);
    // so does the view going away.
    QPointer<MachineView> self(this);
    callbacks.stopped = [self] {
        return !self;
    };
    const auto rowShown = [self](int row) {
        return self && row >= 0 && row < self->m_bars.size() && row < self->grdMachine->rowCount();
    };
    callbacks.unitStarted = [self, rowShown](int row) {
        if (!rowShown(row))
            return;
        self->m_bars.at(row)->setValue(0);
        self->m_bars.at(row)->setFormat(QStringLiteral("checking"));
        self->grdMachine->item(row, StateColumn)->setText(QStringLiteral("checking..."));
        self->grdMachine->selectRow(row);
    };
    callbacks.progress = [rowShown, self](int row, int done, int total) {
        if (!rowShown(row) || total <= 0)
            return;
        // Past the check: the bar and the state say the unit is being sent.
        self->m_bars.at(row)->setFormat(done < total ? QStringLiteral("sending %p%")
                                                     : QStringLiteral("reading back"));
        self->m_bars.at(row)->setValue(done * 100 / total);
        self->grdMachine->item(row, StateColumn)
            ->setText(done < total ? QStringLiteral("sending...") : QStringLiteral("reading back..."));
    };
    callbacks.unitEnded = [self, rowShown](int row, const transfer::MachineUnitResult& result) {
        if (rowShown(row))
            self->showResult(row, result);
    };
    const files::Machine machine = m_machine;
    const QList<transfer::MachineUnitResult> results =
        transfer::runMachine(m_session.link, machine, options, callbacks, m_session.services.messages);
    if (self && !results.isEmpty())
        self->lblMachineSummary->setText(
            (send ? QStringLiteral("Send All: ") : QStringLiteral("Check All: ")) +
            transfer::machineSummary(results));
}

void MachineView::showResult(int row, const transfer::MachineUnitResult& result) {
    QTableWidgetItem* state = grdMachine->item(row, StateColumn);
    QProgressBar* bar = m_bars.at(row);
    if (result.status.state == transfer::UnitState::NotChecked && !result.status.detail.isEmpty()) {
        // Not reached this time: why, with what was found before kept.
        const transfer::UnitState before = m_states.at(row);
        state->setText(before == transfer::UnitState::NotChecked
                           ? result.status.detail
                           : QStringLiteral("%1; %2").arg(m_found.at(row), result.status.detail));
        state->setToolTip(result.status.detail.toHtmlEscaped());
        bar->setFormat(QStringLiteral("not reached"));
        bar->setValue(0);
        return;
    }
    m_states[row] = result.status.state;
    m_found[row] = stateText(result.status);
    state->setText(m_found.at(row));
    state->setToolTip(result.status.detail.toHtmlEscaped());
    if (!result.status.model.isEmpty())
        grdMachine->item(row, ModelColumn)->setText(result.status.model);
    const bool inStep = result.status.state == transfer::UnitState::InStep;
    bar->setFormat(inStep && result.sent
                       ? QStringLiteral("sent")
                       : transfer::unitStateName(result.status.state)
                             .replace(QLatin1Char('-'), QLatin1Char(' ')));
    bar->setValue(inStep ? 100 : 0);
}

void MachineView::useProgramForChosenUnit(const QString& program) {
    const int row = grdMachine->currentRow();
    if (row < 0 || row >= m_machine.units.size() || program.isEmpty())
        return;
    m_machine.units[row].program = QFileInfo(program).absoluteFilePath();
    grdMachine->item(row, ProgramColumn)->setText(QFileInfo(program).fileName());
    grdMachine->item(row, ProgramColumn)
        ->setToolTip(QDir::toNativeSeparators(program).toHtmlEscaped());
    m_states[row] = transfer::UnitState::NotChecked;
    m_found[row].clear();
    grdMachine->item(row, StateColumn)->setText(stateText({}));
}

bool MachineView::save() {
    QString error;
    if (writeMachineFile(m_path, m_machine, &error))
        return true;
    m_session.services.messages.show(platform::MessageIcon::Critical,
                                     QStringLiteral("The machine file %1 could not be written: %2")
                                         .arg(QDir::toNativeSeparators(m_path), error));
    return false;
}

void MachineView::showBusy(bool busy) {
    cmdCheckAll->setEnabled(!busy);
    cmdSendAll->setEnabled(!busy);
    cmdUseProgram->setEnabled(!busy);
    cmdSaveMachine->setEnabled(!busy);
    cmdStopMachine->setEnabled(busy);
}

// One KQM20 at a time, in the background: the query gives way to any
// exchange, and none is asked while a run goes on.
void MachineView::pollNextPosition() {
    const auto again = [this] {
        m_poll->start(PollInterval);
    };
    if (m_session.link.exchanges().isBusy() || m_polling || m_machine.units.isEmpty() ||
        !isVisible()) {
        again();
        return;
    }
    const int count = static_cast<int>(m_machine.units.size());
    for (int step = 1; step <= count; ++step) {
        const int row = (m_pollRow + step) % count;
        const QString model = grdMachine->item(row, ModelColumn)->text();
        if (model != QLatin1String("KQM20") || m_states.at(row) == transfer::UnitState::NoUnit)
            continue;
        m_pollRow = row;
        m_polling = true;
        QPointer<MachineView> self(this);
        const link::Link::BackgroundReply reply = m_session.link.background().ask(
            QStringLiteral("VZ"), QString::number(m_machine.units.at(row).axis));
        if (!self)
            return;
        m_polling = false;
        if (reply.outcome == link::Link::BackgroundOutcome::Answered &&
            row < grdMachine->rowCount())
            grdMachine->item(row, PositionColumn)->setText(reply.text.trimmed());
        break;
    }
    again();
}

} // namespace kqm::ui
