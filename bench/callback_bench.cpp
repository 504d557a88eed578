#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "audio/realtime_player.h"
#include "tests/support/engine_fixture.h"

using namespace morvane;

namespace {

// The worst-case sound with its five-note chord held, in a live player as the window
// has it, asked for callbacks of the given size: the audio callback's own work. The
// engine renders a whole block in whichever callback runs out of samples, so the
// longest callback, not the mean, is what must fit in the device's buffer.
template <typename Sample>
void PullCallbacks(benchmark::State& state, int deviceRate, int framesPerCallback) {
    SoundParameters sound;
    fixture::SetWorstCaseSound(sound);
    Result<std::unique_ptr<RealtimePlayer>> created =
        RealtimePlayer::Create(sound, RealtimePlayer::Pace::Live, deviceRate);
    if (!created) {
        state.SkipWithError(created.error().message.c_str());
        return;
    }
    RealtimePlayer& player = **created;
    for (int key : fixture::kWorstCaseChord)
        player.Send(Command{KeyDown{key}});

    std::vector<Sample> buffer(framesPerCallback);
    std::chrono::duration<double> longest{0};
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        auto before = std::chrono::steady_clock::now();
        player.Render(buffer.data(), framesPerCallback);
        longest = std::max<std::chrono::duration<double>>(
            longest, std::chrono::steady_clock::now() - before);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const double blocks = static_cast<double>(state.iterations()) * framesPerCallback *
                          kSampleRate / deviceRate / kBlockSamples;
    state.counters["us_per_block"] = elapsed.count() / blocks * 1e6;
    state.counters["longest_callback_us"] = longest.count() * 1e6;
    state.counters["callback_budget_us"] = 1e6 * framesPerCallback / deviceRate;
}

// PortAudio in the low-latency mode: int16 at the engine's rate, 64 frames a callback.
void BM_CallbackPortAudio(benchmark::State& state) {
    PullCallbacks<std::int16_t>(state, kSampleRate, 64);
}

// A JACK server at 48000 Hz with 256-frame periods: resampled float.
void BM_CallbackJack48k(benchmark::State& state) {
    PullCallbacks<float>(state, 48000, 256);
}

} // namespace

BENCHMARK(BM_CallbackPortAudio);
BENCHMARK(BM_CallbackJack48k);
