#include "plugin/panel_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace morvane::lv2 {

namespace {

// How long a panel told to end may take to quit on its own before it is killed: long
// enough for a window to close, short enough for a host that waits on it.
constexpr auto kQuitGrace = std::chrono::milliseconds(500);
constexpr auto kQuitPoll = std::chrono::milliseconds(5);

constexpr std::size_t kWaitingLimit = 1024;

// The descriptor the panel finds its end of the socket at.
constexpr int kPanelSocket = 3;

// A host may block or ignore signals in its threads; the panel starts with the defaults.
Status SpawnDefaults(posix_spawnattr_t& attributes) {
    sigset_t none;
    sigset_t reset;
    sigemptyset(&none);
    sigemptyset(&reset);
    for (const int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD})
        sigaddset(&reset, signal);
    if (posix_spawnattr_setsigmask(&attributes, &none) != 0 ||
        posix_spawnattr_setsigdefault(&attributes, &reset) != 0 ||
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) != 0)
        return Error{"cannot prepare the panel's start"};
    return {};
}

Error Failed(const std::string& what, int error) {
    return Error{what + ": " + std::strerror(error)};
}

} // namespace

Result<std::unique_ptr<PanelProcess>> PanelProcess::Start(const std::string& program,
                                                          const std::string& title) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        return Failed("cannot make a socket for the panel", errno);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    // dup2 leaves the copy open across exec, unlike every other descriptor of ours. The
    // host's own that it left open across exec are closed: a panel holding one would keep
    // a pipe or a device of the host's from ending.
    posix_spawn_file_actions_adddup2(&actions, ends[1], kPanelSocket);
    posix_spawn_file_actions_addclosefrom_np(&actions, kPanelSocket + 1);
    Status prepared = SpawnDefaults(attributes);
    const std::string socketOption = kPanelSocketOption + std::to_string(kPanelSocket);
    const std::string titleOption = kPanelTitleOption + title;
    char* const argv[] = {const_cast<char*>(program.c_str()),
                          const_cast<char*>(socketOption.c_str()),
                          const_cast<char*>(titleOption.c_str()), nullptr};
    pid_t pid = 0;
    const int spawned =
        prepared ? ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ) : 0;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(ends[1]);
    if (!prepared || spawned != 0) {
        ::close(ends[0]);
        return prepared ? Failed("cannot start " + program, spawned) : prepared.error();
    }
    return std::unique_ptr<PanelProcess>(new PanelProcess(pid, ends[0]));
}

PanelProcess::~PanelProcess() {
    // The panel quits when its end of the socket closes.
    ::close(socket_);
    const auto deadline = std::chrono::steady_clock::now() + kQuitGrace;
    for (;;) {
        const pid_t reaped = ::waitpid(pid_, nullptr, WNOHANG);
        // A host that ignores SIGCHLD has its children reaped for it.
        if (reaped == pid_ || (reaped < 0 && errno == ECHILD))
            return;
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(kQuitPoll);
    }
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// A panel that does not read (stopped, or busy for long) costs the host no more than a
// value for each port and a bounded number of messages: a port's newer value takes the place
// of one still waiting, and messages beyond the bound are dropped.
void PanelProcess::Send(std::vector<std::uint8_t> message) {
    if (gone_)
        return;
    SendWaiting();
    if (const std::optional<std::uint32_t> port = ValuePort(message)) {
        for (std::vector<std::uint8_t>& waiting : waiting_) {
            if (ValuePort(waiting) == port) {
                waiting = std::move(message);
                return;
            }
        }
    } else if (waiting_.size() >= kWaitingLimit) {
        return;
    }
    waiting_.push_back(std::move(message));
    SendWaiting();
}

void PanelProcess::SendWaiting() {
    while (!waiting_.empty()) {
        const std::vector<std::uint8_t>& message = waiting_.front();
        if (::send(socket_, message.data(), message.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                gone_ = true;
            return;
        }
        waiting_.pop_front();
    }
}

bool PanelProcess::Receive(const std::function<void(const ReceivedLink&)>& take) {
    SendWaiting();
    if (!gone_ && !ReceiveLinks(socket_, buffer_, take))
        gone_ = true;
    if (gone_)
        waiting_.clear();
    return !gone_;
}

} // namespace morvane::lv2
