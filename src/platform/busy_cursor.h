#pragma once

namespace kqm::platform {

// The hourglass. Code shows it through BusyCursorGuard so that every path,
// early returns included, puts the normal pointer back.
class BusyCursor {
public:
    virtual ~BusyCursor() = default;
    virtual void ShowBusyCursor() = 0;
    virtual void ShowNormalCursor() = 0;
};

// Counts instead of drawing; tests read the depth to see that it came back.
class CountingBusyCursor final : public BusyCursor {
public:
    void ShowBusyCursor() override {
        ++m_depth;
        ++m_shown;
    }
    void ShowNormalCursor() override {
        if (m_depth > 0)
            --m_depth;
    }
    int depth() const { return m_depth; }
    int timesShown() const { return m_shown; }

private:
    int m_depth = 0;
    int m_shown = 0;
};

class BusyCursorGuard {
public:
    explicit BusyCursorGuard(BusyCursor& cursor) : m_cursor(cursor) { m_cursor.ShowBusyCursor(); }
    ~BusyCursorGuard() { m_cursor.ShowNormalCursor(); }
    BusyCursorGuard(const BusyCursorGuard&) = delete;
    BusyCursorGuard& operator=(const BusyCursorGuard&) = delete;

private:
    BusyCursor& m_cursor;
};

} // namespace kqm::platform
