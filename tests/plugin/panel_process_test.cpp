#include "plugin/panel_process.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// A stand-in for the panel: it reads its end of the socket until the host's end closes.
fs::path StandInPanel() {
    const fs::path program = fs::path(testing::TempDir()) / "morvane-stand-in-panel";
    std::ofstream(program) << "#!/bin/sh\nexec cat <&3 >/dev/null\n";
    fs::permissions(program, fs::perms::owner_all);
    return program;
}

} // namespace

// The panel holds its socket and nothing else of the host's: a pipe the host left open
// across exec still ends when the host closes its end, and the panel ends with its socket.
TEST(PanelProcess, TakesNoDescriptorOfTheHostButItsSocket) {
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, 0), 0);
    auto panel = morvane::lv2::PanelProcess::Start(StandInPanel(), "T");
    ASSERT_TRUE(panel) << panel.error().message;
    ::close(pipe[1]);
    pollfd hangUp{pipe[0], POLLIN, 0};
    EXPECT_EQ(::poll(&hangUp, 1, 0), 1);
    EXPECT_TRUE(hangUp.revents & POLLHUP);
    ::close(pipe[0]);
    EXPECT_TRUE((*panel)->Receive([](const morvane::lv2::ReceivedLink&) {}));
}
