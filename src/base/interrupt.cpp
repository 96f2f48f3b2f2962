#include "base/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include "base/language.h"

namespace {

volatile sig_atomic_t g_signal = 0;
volatile sig_atomic_t g_childGroup = 0;

void OnSignal(int signal) {
    if (g_signal != 0) {
        if (g_childGroup > 0) ::kill(-static_cast<pid_t>(g_childGroup), SIGKILL);
        ::_exit(128 + signal);
    }
    g_signal = signal;
}

}  // namespace

void InstallInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking read returns EINTR, so the run notices soon.
    action.sa_flags = 0;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

int InterruptSignal() { return g_signal; }

void ThrowIfInterrupted() {
    if (g_signal != 0) throw EInterrupted(Translate("Stopped by signal $1.", Params({std::to_string(g_signal)})));
}

int InterruptExitStatus() { return g_signal != 0 ? 128 + g_signal : 0; }

void SetInterruptChildGroup(pid_t group) { g_childGroup = group; }
