#pragma once

#include <signal.h>

#include <string>

// morvane-render stopped by a signal (Ctrl+C, kill, a log-out, a closed pipe) removes the temporary
// file it was writing before it dies, as an error on the way would have.
namespace morvane {

// Makes every signal that would end the program from outside (SIGINT, SIGTERM, SIGHUP,
// SIGQUIT, SIGUSR1, SIGPIPE, SIGALRM, SIGXCPU, the real-time signals...) remove the file
// named by RemoveOnTermination and end the program as the signal would have, except
// those the program was started ignoring; makes SIGXFSZ, the file-size limit, a failed
// write instead of a silent death, so that the program can say so and clean up.
void InstallTerminationCleanup();

// The file a signal is to remove from now on; only one at a time.
void RemoveOnTermination(const std::string& path);
// From now on a signal removes nothing.
void KeepOnTermination();

// Holds those signals back while it lives, so that a file can be created and
// named for removal as one step; a signal that came meanwhile arrives at its end.
class TerminationHeld {
public:
    TerminationHeld();
    ~TerminationHeld();
    TerminationHeld(const TerminationHeld&) = delete;
    TerminationHeld& operator=(const TerminationHeld&) = delete;

private:
    sigset_t previous_;
};

} // namespace morvane
