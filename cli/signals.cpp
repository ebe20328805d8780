#include "cli/signals.h"

#include <signal.h>

#include "stats/engine.h"

namespace pelmora::cli {

namespace {

std::atomic<bool> g_interrupted{false};
volatile sig_atomic_t g_signal = 0;

extern "C" void onSignal(int sig) {
    if (g_signal == 0) g_signal = sig;
    g_interrupted.store(true, std::memory_order_relaxed);
}

}  // namespace

void catchInterrupts() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM}) sigaction(sig, &action, nullptr);
}

const std::atomic<bool>& interrupted() {
    return g_interrupted;
}

int interruptStatus() {
    return g_signal == 0 ? 0 : 128 + g_signal;
}

void stopIfInterrupted() {
    if (g_interrupted.load(std::memory_order_relaxed)) throw stats::Cancelled();
}

}  // namespace pelmora::cli
