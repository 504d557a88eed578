#include "audio/portaudio_wave_out.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <array>
#include <vector>

#include "engine/synth_state.h"

using namespace morvane;

// These run only where a sound server answers; without one the device fails to open at
// once and they are skipped.
namespace {

constexpr int kBuffers = 8;

struct CompletionLog : CompletionListener {
    std::vector<WaveHeader*> done;
    void WaveOutDone(WaveHeader& finished) override { done.push_back(&finished); }
    void WaveOutLost(const Error&) override {}
    void WaveOutBack() override {}
};

class RealDevice : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto& header : headers)
            header = WaveHeader{data.data(), kBlockSamples * 2};
        if (!device.Open(log))
            GTEST_SKIP() << "no sound device";
    }
    void QueueAll() {
        for (auto& header : headers)
            ASSERT_TRUE(device.Prepare(header) && device.Write(header));
    }
    std::vector<WaveHeader*> InQueueOrder() {
        std::vector<WaveHeader*> order;
        for (auto& header : headers)
            order.push_back(&header);
        return order;
    }

    std::array<std::int16_t, kBlockSamples> data{};
    std::array<WaveHeader, kBuffers> headers;
    CompletionLog log;
    PortAudioWaveOut device;
};

} // namespace

TEST_F(RealDevice, CompletesEveryBufferInQueueOrderThroughTheEventLoop) {
    int argc = 1;
    char name[] = "audio_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    device.DeliverThroughEventLoop();
    QueueAll();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (log.done.size() == kBuffers)
            app.quit();
    });
    poll.start(10);
    QTimer::singleShot(5000, &app, &QCoreApplication::quit);
    app.exec();

    EXPECT_EQ(log.done, InQueueOrder());
    for (auto& header : headers)
        EXPECT_FALSE(header.Queued);
    device.Close();
}

TEST_F(RealDevice, ResetReturnsEveryQueuedBufferAndPlayingGoesOn) {
    QueueAll();
    device.Reset();
    for (int i = 0; i < 10 && log.done.size() < kBuffers; ++i)
        device.AwaitCompletions(std::chrono::milliseconds(100));
    EXPECT_EQ(log.done, InQueueOrder());

    log.done.clear();
    QueueAll();
    for (int i = 0; i < 50 && log.done.size() < kBuffers; ++i)
        device.AwaitCompletions(std::chrono::milliseconds(100));
    EXPECT_EQ(log.done, InQueueOrder());
    device.Close();
}
