#pragma once

#include <QList>

namespace kqm::simulator {

// What the simulated line saw, for tests and the Debug pane: the most recent
// entries only, so a simulated unit that runs for days (kqmctl simulate, or
// the window on device sim) keeps no more than a bounded log. count() is the
// number ever appended; since(count()) taken earlier gives what came after.
template <typename T> class RecentLog {
public:
    explicit RecentLog(qsizetype keep) : m_keep(keep) {}

    void append(const T& item) {
        // Trimmed in halves, so appending stays cheap.
        if (m_items.size() >= 2 * m_keep)
            m_items.remove(0, m_items.size() - m_keep + 1);
        m_items.push_back(item);
        ++m_count;
    }
    // At least the last `keep` entries, oldest first.
    const QList<T>& recent() const { return m_items; }
    qsizetype count() const { return m_count; }
    // The entries appended after the first `count`; any that were trimmed
    // since are missing from the front.
    QList<T> since(qsizetype count) const {
        const qsizetype dropped = m_count - m_items.size();
        return m_items.mid(qMax<qsizetype>(0, count - dropped));
    }
    void clear() { m_items.clear(); }

private:
    qsizetype m_keep;
    qsizetype m_count = 0;
    QList<T> m_items;
};

} // namespace kqm::simulator
