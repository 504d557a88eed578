#include "audio/recorder_thread.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "tests/audio/temporary_directory.h"
#include "tests/support/engine_fixture.h"

using namespace morvane;
using namespace std::chrono_literals;

namespace {

struct ErrorBox : ErrorReporter {
    void ShowError(const std::string&) override {}
};

// A disk that stalls: the recording goes into a pipe of one page that nobody reads yet.
struct StalledDisk {
    int ends[2] = {-1, -1};
    StalledDisk() {
        if (::pipe2(ends, O_CLOEXEC) == 0)
            ::fcntl(ends[1], F_SETPIPE_SZ, 4096);
    }
    ~StalledDisk() {
        for (int end : ends)
            if (end >= 0)
                ::close(end);
    }
    int Queued() const {
        int bytes = 0;
        ::ioctl(ends[0], FIONREAD, &bytes);
        return bytes;
    }
    // Reads until the recorder has closed the file.
    void DrainToTheEnd() {
        std::vector<char> buffer(4096);
        while (::read(ends[0], buffer.data(), buffer.size()) > 0) {
        }
    }
};

} // namespace

// A click on record asks and stops while the writing thread is stuck in a write: neither
// may wait for the disk.
TEST(RecorderThread, TheOwnerNeverWaitsForTheDisk) {
    auto player =
        RealtimePlayer::Create(*fixture::MakeSynth(), RealtimePlayer::Pace::Live, kSampleRate);
    ASSERT_TRUE(player);
    TemporaryDirectory directory;
    ErrorBox errors;
    WavRecorder recorder(directory.Path(), errors);
    StalledDisk disk;
    recorder.SetFileOpener([&](const std::string&) {
        int end = disk.ends[1];
        disk.ends[1] = -1;
        return end;
    });
    RecorderThread thread(**player, recorder);
    ASSERT_TRUE(thread.Start());

    std::vector<std::int16_t> samples(kBlockSamples);
    for (int block = 0; block < 20; ++block)
        (*player)->Render(samples.data(), kBlockSamples);
    // Full when the next block does not fit: a pipe takes a write this small whole or not.
    bool stalled = false;
    for (auto waited = 0ms; !stalled && waited < 5s; waited += 10ms) {
        std::this_thread::sleep_for(10ms);
        stalled = disk.Queued() + kBlockBytes > 4096;
    }
    std::this_thread::sleep_for(50ms);

    auto click = std::async(std::launch::async, [&] {
        bool recording = thread.Recording();
        thread.Stop();
        return recording;
    });
    bool answered = click.wait_for(2s) == std::future_status::ready;
    disk.DrainToTheEnd();
    EXPECT_TRUE(stalled) << "the writing thread never filled the pipe";
    EXPECT_TRUE(answered) << "the owner waited for the disk";
    EXPECT_TRUE(click.get());
}
