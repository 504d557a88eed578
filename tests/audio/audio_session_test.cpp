#include "audio/audio_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "tests/audio/temporary_directory.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/manual_output.h"

using namespace morvane;
using namespace std::chrono_literals;

namespace {

struct ErrorList : ErrorReporter {
    void ShowError(const std::string& message) override { messages.push_back(message); }
    std::vector<std::string> messages;
};

std::unique_ptr<RealtimePlayer> LivePlayer(int rate) {
    Result<std::unique_ptr<RealtimePlayer>> player =
        RealtimePlayer::Create(*fixture::MakeSynth(), RealtimePlayer::Pace::Live, rate);
    EXPECT_TRUE(player.ok());
    return std::move(*player);
}

// Tends the session, as the window's timer does, until done says so or two seconds pass.
template <typename Done> bool TendUntil(AudioSession& session, Done done) {
    const auto giveUpAt = std::chrono::steady_clock::now() + 2s;
    while (!done() && std::chrono::steady_clock::now() < giveUpAt) {
        session.Tend();
        std::this_thread::sleep_for(5ms);
    }
    return done();
}

// A classic session on devices the test opens and plays by hand, recording into a folder
// of its own.
struct ManualClassic {
    ManualOutputs outputs;
    TemporaryDirectory folder;
    ErrorList errors;
    WavRecorder recorder{folder.Path(), errors};
    AudioSession session{outputs.Classic(), recorder, errors};
};

bool Silent(const std::vector<std::int16_t>& samples, std::size_t from, std::size_t to) {
    return std::all_of(samples.begin() + from, samples.begin() + to,
                       [](std::int16_t v) { return v == 0; });
}

} // namespace

// The classic session asks PortAudio for 441-frame callbacks. A device that is not there at
// the start, or goes away, is tried again once a second; each device that comes plays the
// half second of silence first, and a loss is told once. Recording needs a device.
TEST(AudioSession, EachDeviceThatComesStartsBehindTheClassicSilence) {
    ManualClassic manual;
    auto& [outputs, folder, errors, recorder, session] = manual;
    outputs.FailNext(1, "no server yet");
    const Status opened = session.Open();
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error().message, "no server yet");
    EXPECT_EQ(outputs.Asked().api, AudioApi::PortAudio);
    EXPECT_EQ(outputs.Asked().framesPerBuffer, static_cast<unsigned long>(kBlockSamples));
    EXPECT_EQ(session.DeviceRate(), kSampleRate);
    auto player = LivePlayer(session.DeviceRate());
    ASSERT_TRUE(session.Start(*player).ok());
    EXPECT_FALSE(session.Playing());
    EXPECT_EQ(session.StartRecording().error().message, kNoDeviceToRecord);

    for (int device = 0; device < 2; ++device) {
        SCOPED_TRACE(device);
        ASSERT_TRUE(TendUntil(session, [&] { return session.Playing(); }));
        ManualOutput& output = *outputs.Last();
        ASSERT_TRUE(player->Send(Command{KeyDown{1}}));
        output.PlayBlocks(27);
        EXPECT_TRUE(Silent(output.Played(), 0, 26 * kBlockSamples));
        EXPECT_FALSE(Silent(output.Played(), 26 * kBlockSamples, output.Played().size()));
        output.Lose("the server went away");
        session.Tend();
        EXPECT_FALSE(session.Playing());
    }
    EXPECT_EQ(errors.messages, std::vector<std::string>(2, "Wave out error: the server went away"));
    session.Close(); // before the player goes
}

// The close lets the rendered blocks play out, then the device's own latency; the recording
// ends with the last block rendered before it.
TEST(AudioSession, TheDrainWaitsForWhatWasRendered) {
    ManualClassic manual;
    auto& [outputs, folder, errors, recorder, session] = manual;
    ASSERT_TRUE(session.Open().ok());
    auto player = LivePlayer(session.DeviceRate());
    ASSERT_TRUE(session.Start(*player).ok());
    ManualOutput& output = *outputs.Last();
    ASSERT_TRUE(session.StartRecording().ok());
    ASSERT_TRUE(player->Send(Command{KeyDown{1}}));
    output.PlayBlocks(30); // nine rendered

    EXPECT_FALSE(session.Drained());
    output.PlayBlocks(4);
    EXPECT_FALSE(Silent(output.Played(), 30 * kBlockSamples, 34 * kBlockSamples));
    EXPECT_FALSE(session.Drained());
    output.PlayBlocks(4);
    EXPECT_TRUE(session.Drained());
    session.Close();
    EXPECT_FALSE(session.Recording());
    EXPECT_EQ(std::filesystem::file_size(recorder.FilePath()), 46u + 9 * 882u);
    EXPECT_TRUE(errors.messages.empty());
}

// The classic session on the sound server's default device: 441-frame callbacks at the
// engine's rate, the lead played out, and the drain done within a second.
TEST(RealDevice, TheClassicSessionPlaysAndDrains) {
    TemporaryDirectory folder;
    ErrorList errors;
    WavRecorder recorder(folder.Path(), errors);
    AudioSession session(ClassicSession(), recorder, errors);
    ASSERT_TRUE(session.Open().ok());
    auto player = LivePlayer(session.DeviceRate());
    ASSERT_TRUE(session.Start(*player).ok());
    ASSERT_TRUE(TendUntil(session, [&] { return player->FramesOut() >= 30u * kBlockSamples; }));
    const std::optional<OutputHealth> health = session.Health();
    ASSERT_TRUE(health.has_value());
    EXPECT_EQ(health->rate, kSampleRate);
    EXPECT_EQ(health->bufferFrames, kBlockSamples);
    EXPECT_TRUE(TendUntil(session, [&] { return session.Drained(); }));
    session.Close();
    EXPECT_TRUE(errors.messages.empty());
}
