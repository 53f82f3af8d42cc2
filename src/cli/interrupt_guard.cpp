#include "cli/interrupt_guard.h"

#include <csignal>

namespace kqm::cli {

namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void onInterrupt(int) {
    interrupted = 1;
}

using Handler = void (*)(int);
Handler previousInt = SIG_DFL;
Handler previousTerm = SIG_DFL;
#ifdef SIGHUP
Handler previousHup = SIG_DFL;
#endif

Handler restored(Handler previous) {
    return previous == SIG_ERR ? SIG_DFL : previous;
}

} // namespace

InterruptGuard::InterruptGuard() {
    interrupted = 0;
    previousInt = std::signal(SIGINT, onInterrupt);
    previousTerm = std::signal(SIGTERM, onInterrupt);
#ifdef SIGHUP
    // The terminal closing ends a send as cleanly as Ctrl+C does.
    previousHup = std::signal(SIGHUP, onInterrupt);
#endif
}

InterruptGuard::~InterruptGuard() {
    std::signal(SIGINT, restored(previousInt));
    std::signal(SIGTERM, restored(previousTerm));
#ifdef SIGHUP
    std::signal(SIGHUP, restored(previousHup));
#endif
}

bool InterruptGuard::requested() {
    return interrupted != 0;
}

void InterruptGuard::clear() {
    interrupted = 0;
}

} // namespace kqm::cli
