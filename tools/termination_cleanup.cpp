#include "tools/termination_cleanup.h"

#include <climits>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace morvane {

namespace {

// A handler may only touch plain memory and call async-signal-safe functions: the name
// lives in a fixed buffer, and a flag says whether it is complete.
char pendingPath[PATH_MAX];
volatile std::sig_atomic_t pathSet = 0;

// Every signal that ends a program unless it is handled and that comes from outside
// (kill, a log-out, a closed pipe, a CPU limit, a timer), besides the real-time ones.
// The faults (SIGSEGV, SIGABRT...) stay with the default action and the sanitizers.
constexpr int kTerminatingSignals[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGUSR1, SIGUSR2,
                                       SIGPIPE, SIGALRM, SIGTERM,   SIGXCPU, SIGVTALRM,
                                       SIGPROF, SIGIO,   SIGSTKFLT, SIGPWR};

template <typename Visit> void ForEachTerminatingSignal(Visit visit) {
    for (int signal : kTerminatingSignals)
        visit(signal);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
        visit(signal);
}

void RemoveAndDie(int signal) {
    if (pathSet)
        ::unlink(pendingPath);
    // Blocked while this handler runs, the signal takes its default course on return.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

void InstallTerminationCleanup() {
    struct sigaction action {};
    action.sa_handler = RemoveAndDie;
    sigemptyset(&action.sa_mask);
    ForEachTerminatingSignal([&action](int signal) {
        // A signal the caller ignores (nohup) stays ignored.
        struct sigaction inherited {};
        if (sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler != SIG_IGN)
            sigaction(signal, &action, nullptr);
    });
    std::signal(SIGXFSZ, SIG_IGN);
}

void RemoveOnTermination(const std::string& path) {
    pathSet = 0;
    if (path.size() >= sizeof pendingPath)
        return;
    std::memcpy(pendingPath, path.c_str(), path.size() + 1);
    pathSet = 1;
}

void KeepOnTermination() {
    pathSet = 0;
}

TerminationHeld::TerminationHeld() {
    sigset_t held;
    sigemptyset(&held);
    ForEachTerminatingSignal([&held](int signal) { sigaddset(&held, signal); });
    pthread_sigmask(SIG_BLOCK, &held, &previous_);
}

TerminationHeld::~TerminationHeld() {
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

} // namespace morvane
