#include "program/program_document.h"

#include "platform/messages.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace kqm::program {

namespace {

// Boxes that an edit or refresh shows while it holds the file's write lock
// wait until the lock is given up: a box left open would keep every other
// program from writing the file for as long as it is open.
class DeferredMessages final : public platform::Messages {
public:
    explicit DeferredMessages(platform::Messages& target) : m_target(target) {}
    ~DeferredMessages() override { release(); }

    platform::MessageAnswer show(platform::MessageIcon icon, const QString& text,
                                 platform::MessageButtons buttons) override {
        if (buttons != platform::MessageButtons::Ok)
            return m_target.show(icon, text, buttons);
        m_held.push_back({icon, text});
        return platform::MessageAnswer::Ok;
    }
    void release() {
        const auto held = std::exchange(m_held, {});
        for (const auto& [icon, text] : held)
            m_target.show(icon, text);
    }

private:
    platform::Messages& m_target;
    QVector<std::pair<platform::MessageIcon, QString>> m_held;
};

QString changedMessage(const QString& path) {
    return QStringLiteral("%1 was changed by another program; the lines shown are as it is now.")
        .arg(QDir::toNativeSeparators(path));
}

} // namespace

bool sameLines(const QVector<ProgramRow>& a, const QVector<ProgramRow>& b) {
    return std::equal(
        a.begin(), a.end(), b.begin(), b.end(), [](const ProgramRow& x, const ProgramRow& y) {
            return x.rowid == y.rowid && x.command == y.command && x.comment == y.comment;
        });
}

ProgramDocument::ProgramDocument(platform::Messages& messages, QObject* parent)
    : QObject(parent), m_messages(messages) {
    connect(&m_state, &ProgramState::bytesUsedCaptionChanged, this,
            &ProgramDocument::memoryTextChanged);
    // A writer replaces the file's pages in place, or a tool may put a new
    // file there; either way the watcher only hints, data_version decides.
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, [this](const QString& path) {
        if (!m_watcher.files().contains(path) && QFileInfo::exists(path))
            m_watcher.addPath(path);
        QTimer::singleShot(50, this, [this] { lookWithoutWaiting(); });
    });
    m_retry.setSingleShot(true);
    m_retry.setInterval(250);
    connect(&m_retry, &QTimer::timeout, this, [this] { lookWithoutWaiting(); });
}

void ProgramDocument::lookWithoutWaiting() {
    if (!isBound())
        return;
    SqliteFile::NoWait quick(m_table.file());
    catchUp();
}

void ProgramDocument::holdReload() {
    // What was seen is forgotten: the next look that gets through reads
    // the file whole.
    m_seenVersion.reset();
    if (!m_reloadHeld)
        emit heldElsewhere(QStringLiteral("Another program is changing %1; the program is shown "
                                          "as it was, and follows when that program has "
                                          "finished.")
                               .arg(QDir::toNativeSeparators(path())));
    m_reloadHeld = true;
    m_retry.start();
}

std::optional<quint64> ProgramDocument::beginChange() {
    if (refuseChange())
        return std::nullopt;
    // The lines are chosen on the file as it is; an edit chosen on lines
    // that change before it is stored is refused by apply.
    const int refusedBefore = m_table.file().lockRefusals();
    catchUp();
    if (m_table.file().lockRefusals() != refusedBefore) {
        emit failed(QStringLiteral("Nothing was changed: another program is changing %1. Try "
                                   "again when it has finished.")
                        .arg(QDir::toNativeSeparators(path())));
        return std::nullopt;
    }
    return m_shownRevision;
}

void ProgramDocument::showRows(QVector<ProgramRow> rows) {
    m_rows = std::move(rows);
    // The size, the fit and the memory caption are those of the rows shown,
    // and of nothing else: whatever read or changed the file last, they
    // never tell of other rows than the grid's.
    QVector<ProgramRow> sized = m_rows;
    platform::SilentMessages silent;
    const ListingOutcome outcome = computeListing(sized, silent);
    m_state.ProgramSize = outcome.programSize;
    m_state.ProgramFits = outcome.programFits;
    m_state.setBytesUsedCaption(m_rows.isEmpty() ? QString() : outcome.caption);
    m_current.reset();
    ++m_shownRevision;
    emit rowsChanged(m_rows);
}

void ProgramDocument::noteVersion() {
    if (isBound())
        m_seenVersion = m_table.file().dataVersion();
}

bool ProgramDocument::changedSinceSeen() {
    const std::optional<qint64> now = m_table.file().dataVersion();
    if (!now)
        return false; // not readable now (held by another program): not known
    const bool changed = now != m_seenVersion;
    m_seenVersion = now;
    return changed;
}

void ProgramDocument::watch(const QString& path) {
    if (!m_watcher.files().isEmpty())
        m_watcher.removePaths(m_watcher.files());
    if (!path.isEmpty())
        m_watcher.addPath(path);
}

bool ProgramDocument::bind(const QString& path, bool refreshListing, QString* error) {
    m_bindFailure.clear();
    ++m_binding;
    watch(QString());
    const auto fail = [&](const QString& failure, const QString& reason) {
        m_bindFailure = failure;
        if (error)
            *error = reason;
        m_table.close();
        showRows({});
        emit boundFileChanged(QString());
        emit historyChanged();
        return false;
    };
    if (!m_table.open(path))
        return fail(m_table.openFailure(path), m_table.lastError());
    // The window never shows one file's rows while another is bound: a file
    // whose listing cannot be brought up to date is not bound at all.
    std::optional<QVector<ProgramRow>> rows;
    if (refreshListing) {
        DeferredMessages boxes(m_messages);
        ProgramState sized;
        RefreshResult result = RefreshListing(m_table, sized, boxes);
        noteVersion();
        if (!result.ok) {
            return fail(QStringLiteral("%1 cannot be used: its listing could not be brought up to "
                                       "date (%2)")
                            .arg(QDir::toNativeSeparators(path), result.error),
                        result.error);
        }
        rows = std::move(result.rows);
    } else {
        rows = m_table.readRows();
        noteVersion();
        if (!rows) {
            return fail(QStringLiteral("%1 cannot be used: %2")
                            .arg(QDir::toNativeSeparators(path), m_table.lastError()),
                        m_table.lastError());
        }
    }
    showRows(std::move(*rows));
    watch(path);
    emit boundFileChanged(path);
    emit historyChanged();
    return true;
}

void ProgramDocument::close() {
    ++m_binding;
    watch(QString());
    m_seenVersion.reset();
    m_table.close();
}

std::optional<int> ProgramDocument::recordCount() {
    return m_table.isOpen() ? m_table.rowCount() : std::nullopt;
}

bool ProgramDocument::refresh() {
    if (!isBound())
        return false;
    const int refusedBefore = m_table.file().lockRefusals();
    DeferredMessages boxes(m_messages);
    RefreshResult result;
    {
        // The version is read under the same lock as the rows, so that no
        // other program's change falls between them unseen.
        Transaction transaction(m_table.file());
        ProgramState sized;
        result = RefreshListing(m_table, sized, boxes);
        noteVersion();
        if (result.ok && !transaction.commit()) {
            result.ok = false;
            result.error = m_table.lastError();
        }
    }
    const quint64 shownBefore = m_shownRevision;
    boxes.release();
    if (!result.ok) {
        if (m_table.file().lockRefusals() != refusedBefore) {
            // Not a failure of the file: it is shown once the lock is gone.
            holdReload();
            return false;
        }
        emit failed(
            QStringLiteral("The program table could not be updated (%1).").arg(result.error));
        return false;
    }
    showAfterBoxes(shownBefore, std::move(result.rows));
    return true;
}

void ProgramDocument::showAfterBoxes(quint64 shownBefore, QVector<ProgramRow> rows) {
    // While a box was open another program may have changed the file, and
    // the window may have shown that already: what was read before the box
    // is shown only when nothing newer was, and the file is looked at again.
    if (m_shownRevision == shownBefore)
        showRows(std::move(rows));
    catchUp();
}

bool ProgramDocument::catchUp() {
    if (!isBound())
        return false;
    const int refusedBefore = m_table.file().lockRefusals();
    const auto held = [&] {
        if (m_table.file().lockRefusals() == refusedBefore)
            return false;
        holdReload();
        return true;
    };
    if (!changedSinceSeen()) {
        if (!held() && m_reloadHeld) {
            m_reloadHeld = false;
            m_retry.stop();
        }
        return false;
    }
    // Only a change to the lines themselves is shown anew; a refresh of
    // line numbers or addresses keeps the user's place.
    const auto now = m_table.readRows();
    if (held())
        return false;
    m_reloadHeld = false;
    m_retry.stop();
    if (now && sameLines(*now, m_rows))
        return false;
    // The lines moved under the user's choice: nothing stays chosen.
    if (!refresh())
        return false;
    emit currentRowChanged(-1);
    emit changedElsewhere(changedMessage(path()));
    emit historyChanged();
    return true;
}

bool ProgramDocument::apply(const Planner& planner, std::optional<quint64> plannedOn) {
    if (!isBound() || refuseChange())
        return false;
    const std::optional<int> currentBefore = m_current;
    DeferredMessages boxes(m_messages);
    EditResult result;
    bool stale = plannedOn && *plannedOn != m_shownRevision;
    if (!stale) {
        Transaction transaction(m_table.file());
        std::optional<QVector<ProgramRow>> now;
        if (transaction.started())
            now = m_table.readRows();
        noteVersion();
        if (!now) {
            result.error = m_table.lastError();
        } else if (!sameLines(*now, m_rows)) {
            stale = true;
        } else {
            ProgramState sized;
            result = commitPlan(m_table, sized, boxes, *now, planner(*now), currentBefore);
            if (result.ok && !transaction.commit()) {
                result.ok = false;
                result.error = m_table.lastError();
            }
        }
    }
    const quint64 shownBefore = m_shownRevision;
    boxes.release();
    if (stale) {
        // The lines the user chose are not the lines the file holds: the
        // file is shown as it is, and the user chooses again.
        refresh();
        emit failed(QStringLiteral("Nothing was changed: another program changed %1 after the "
                                   "lines were chosen. The program is shown as it is now; "
                                   "choose the lines again.")
                        .arg(QDir::toNativeSeparators(path())));
        emit historyChanged();
        return false;
    }
    if (!result.ok) {
        emit failed(QStringLiteral("The program could not be changed (%1). It is as it was before.")
                        .arg(result.error));
        refresh();
        emit historyChanged();
        return false;
    }
    if (m_shownRevision == shownBefore) {
        showRows(std::move(result.rows));
        setCurrentRow(result.currentRow, result.selectedCount);
    }
    emit historyChanged();
    catchUp();
    return true;
}

bool ProgramDocument::replaceRows(const QVector<ProgramRow>& rows, QString* error,
                                  const QString& label, std::optional<quint64> binding) {
    const auto refuse = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (binding && *binding != m_binding)
        return refuse(QStringLiteral("another program file was opened meanwhile"));
    if (!isBound())
        return refuse(QStringLiteral("no program file is open"));
    DeferredMessages boxes(m_messages);
    EditResult stored;
    ProgramState sized;
    {
        // Every row in the file is replaced, also those another program
        // added since this window last read it: the rows are read under the
        // write lock.
        Transaction transaction(m_table.file());
        std::optional<QVector<ProgramRow>> current;
        if (transaction.started())
            current = m_table.readRows();
        noteVersion();
        if (!current)
            stored.error = m_table.lastError();
        else
            stored = commitPlan(m_table, sized, boxes, *current,
                                planReplace(*current, rows, label), m_current);
        if (stored.ok && !transaction.commit()) {
            stored.ok = false;
            stored.error = m_table.lastError();
        }
    }
    const quint64 shownBefore = m_shownRevision;
    boxes.release();
    if (!stored.ok)
        return refuse(stored.error);
    showAfterBoxes(shownBefore, std::move(stored.rows));
    emit historyChanged();
    return true;
}
std::optional<QString> ProgramDocument::undoLabel() {
    return isBound() ? program::undoLabel(m_table.file()) : std::nullopt;
}

std::optional<QString> ProgramDocument::redoLabel() {
    return isBound() ? program::redoLabel(m_table.file()) : std::nullopt;
}

bool ProgramDocument::undo() {
    return takeStep(true);
}

bool ProgramDocument::redo() {
    return takeStep(false);
}

bool ProgramDocument::takeStep(bool undo) {
    if (!isBound() || refuseChange())
        return false;
    // Undo and redo work on records: the step checks that they are as it
    // left them, whoever changed the rest. The grid shows the file first.
    catchUp();
    HistoryMove move;
    {
        Transaction transaction(m_table.file());
        move = undo ? undoStep(m_table) : redoStep(m_table);
        noteVersion();
        // A history found not to fit is cleared: that is committed too.
        if (!transaction.commit() && move.ok) {
            move.ok = false;
            move.error = m_table.lastError();
        }
    }
    if (move.nothing)
        return false;
    if (!move.ok) {
        emit failed((undo ? QStringLiteral("\"%1\" could not be undone (%2).")
                          : QStringLiteral("\"%1\" could not be redone (%2)."))
                        .arg(move.label, move.error));
        refresh();
        emit historyChanged();
        return false;
    }
    ProgramState sized;
    publishListing(move.rows, sized, m_messages);
    showRows(std::move(move.rows));
    setCurrentRow(move.currentRow);
    emit historyChanged();
    return true;
}

void ProgramDocument::noteSelection(std::optional<int> row, int selectedCount) {
    if (row && (*row < 0 || *row >= m_rows.size()))
        row.reset();
    m_current = row;
    m_selectedCount = row ? std::max(selectedCount, 1) : 0;
}

void ProgramDocument::setCurrentRow(std::optional<int> row, int selectedCount) {
    if (row && (*row < 0 || *row >= m_rows.size()))
        row.reset();
    m_current = row;
    m_selectedCount =
        row ? std::clamp(selectedCount, 1, static_cast<int>(m_rows.size()) - *row) : 0;
    emit currentRowChanged(row.value_or(-1));
    if (row && m_selectedCount > 1)
        emit selectionChanged(*row, m_selectedCount);
}

} // namespace kqm::program
