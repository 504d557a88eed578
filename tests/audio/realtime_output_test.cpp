#include "audio/realtime_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "audio/realtime_player.h"
#include "tests/audio/temporary_directory.h"
#include "tests/support/engine_fixture.h"

using namespace morvane;

// A lost device is opened again while the program runs: another thread's messages written
// meanwhile all reach standard error, and the sound libraries' complaints about servers
// that are not there do not (without a server every open here fails; with one it may play).
TEST(RealtimeOutput, OpeningSilencesNoOtherThreadAndPrintsNoComplaints) {
    for (const AudioApi api : {AudioApi::Jack, AudioApi::PortAudio}) {
        SCOPED_TRACE(static_cast<int>(api));
        TemporaryDirectory folder;
        const std::string log = folder.Path() + "/stderr";
        const int saved = ::dup(STDERR_FILENO);
        const int file = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(file, 0);
        ::dup2(file, STDERR_FILENO);
        std::atomic<bool> opening{true};
        std::thread open([&] {
            RealtimeOutputOptions options;
            options.api = api;
            static_cast<void>(RealtimeOutput::Open(options));
            opening.store(false);
        });
        int written = 0;
        do {
            static constexpr char kLine[] = "another thread\n";
            written += ::write(STDERR_FILENO, kLine, sizeof kLine - 1) > 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } while (opening.load());
        open.join();
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
        ::close(file);

        std::ifstream in(log);
        std::string line;
        int seen = 0;
        while (std::getline(in, line)) {
            EXPECT_EQ(line, "another thread");
            seen += line == "another thread";
        }
        EXPECT_EQ(seen, written);
    }
}

// A PortAudio buffer that keeps underrunning grows with a second stream opened beside the
// playing one: the player goes over to it and is pulled on, the figures are the larger
// buffer's, and the first stream closes once its sound has been heard.
TEST(PortAudioOnServer, GrowsBesideThePlayingStreamAndPlaysOn) {
    RealtimeOutputOptions options;
    options.api = AudioApi::PortAudio;
    Result<std::unique_ptr<RealtimeOutput>> opened = RealtimeOutput::Open(options);
    if (!opened)
        GTEST_SKIP() << "no sound device";
    RealtimeOutput& output = **opened;
    Result<std::unique_ptr<RealtimePlayer>> player = RealtimePlayer::Create(
        *fixture::MakeSynth(), RealtimePlayer::Pace::Live, output.SampleRate());
    ASSERT_TRUE(player);
    output.Attach(**player);
    const auto pulledFor = [&](std::chrono::milliseconds wait) {
        const std::uint64_t from = (*player)->FramesOut();
        std::this_thread::sleep_for(wait);
        output.Tend();
        return (*player)->FramesOut() > from;
    };
    ASSERT_TRUE(pulledFor(std::chrono::milliseconds(100)));
    const int latency = output.Health().latencyFrames;

    const double larger = 2 * output.BufferSeconds();
    ASSERT_TRUE(output.GrowInPlace(larger));
    EXPECT_EQ(output.BufferSeconds(), larger);
    EXPECT_GT(output.Health().latencyFrames, latency);
    for (int tended = 0; tended < 5; ++tended)
        EXPECT_TRUE(pulledFor(std::chrono::milliseconds(100)));
    EXPECT_FALSE(output.Loss());
}
