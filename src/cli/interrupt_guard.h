#pragma once

namespace kqm::cli {

// While it lives, Ctrl+C (SIGINT), SIGTERM and SIGHUP (the terminal closed)
// no longer end kqmctl at once:
// they set a flag that a long exchange polls, so that it can end cleanly
// (a program send finishes its line and leaves the unit with an empty
// program). The previous handlers come back when it goes.
class InterruptGuard {
public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    static bool requested();
    // Forgets a Ctrl+C already handled: only the next one counts.
    static void clear();
};

} // namespace kqm::cli
