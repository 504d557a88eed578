#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/result.h"
#include "plugin/ui_link.h"

namespace morvane::lv2 {

// The panel program running beside the host, joined to it by a socket pair. Nothing here
// waits on the panel: a message the socket has no room for waits in a queue of its own, and
// what the panel sent is read only when there. Ending it waits a moment for it to quit on
// its own and then kills it; either way it is reaped, so no process is left behind.
class PanelProcess {
public:
    // Starts the program with its end of the socket and no other descriptor of the host's;
    // fails when it cannot be started.
    static Result<std::unique_ptr<PanelProcess>> Start(const std::string& program,
                                                       const std::string& title);
    ~PanelProcess();
    PanelProcess(const PanelProcess&) = delete;
    PanelProcess& operator=(const PanelProcess&) = delete;

    void Send(std::vector<std::uint8_t> message);
    // Passes on every message that has arrived; false once the panel has gone (it quit,
    // closed its window or died).
    bool Receive(const std::function<void(const ReceivedLink&)>& take);

private:
    PanelProcess(pid_t pid, int socket) : pid_(pid), socket_(socket) {}
    void SendWaiting();

    pid_t pid_;
    int socket_;
    std::deque<std::vector<std::uint8_t>> waiting_;
    std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(kLinkMessageLimit);
    bool gone_ = false;
};

} // namespace morvane::lv2
