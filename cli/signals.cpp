#include "cli/signals.h"

#include <signal.h>

#include "platform/replacefile.h"
#include "stats/engine.h"

namespace pelmora::cli {

namespace {

std::atomic<bool> g_interrupted{false};
volatile sig_atomic_t g_signal = 0;
std::atomic<bool> g_committed{false};

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
    // Restarted, so that a signal never makes a write of a message or of the output fail.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    const sigset_t signals = platform::terminatingSignals();
    for (int sig = 1; sig < NSIG; ++sig) {
        if (sigismember(&signals, sig) != 1) continue;
        // One the environment ignores (nohup's SIGHUP) stays ignored.
        struct sigaction previous {};
        if (sigaction(sig, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        sigaction(sig, &action, nullptr);
    }
}

const std::atomic<bool>& interrupted() {
    return g_interrupted;
}

int interruptStatus() {
    if (g_committed.load(std::memory_order_relaxed)) return 0;
    return g_signal == 0 ? 0 : 128 + g_signal;
}

void stopIfInterrupted() {
    if (g_interrupted.load(std::memory_order_relaxed)) throw stats::Cancelled();
}

void workCommitted() {
    g_committed.store(true, std::memory_order_relaxed);
}

void outputPipeClosed() {
    onSignal(SIGPIPE);
}

}  // namespace pelmora::cli
