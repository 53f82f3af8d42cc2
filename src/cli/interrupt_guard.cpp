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

} // namespace

InterruptGuard::InterruptGuard() {
    interrupted = 0;
    previousInt = std::signal(SIGINT, onInterrupt);
    previousTerm = std::signal(SIGTERM, onInterrupt);
}

InterruptGuard::~InterruptGuard() {
    std::signal(SIGINT, previousInt == SIG_ERR ? SIG_DFL : previousInt);
    std::signal(SIGTERM, previousTerm == SIG_ERR ? SIG_DFL : previousTerm);
}

bool InterruptGuard::requested() {
    return interrupted != 0;
}

void InterruptGuard::clear() {
    interrupted = 0;
}

} // namespace kqm::cli
