// What one second of audio costs in the LV2 plugin at a DAW's 48 kHz, from MIDI in to the
// resampled output in 512-frame host blocks, beside the engine's own 50 blocks at 22050 Hz
// for the same chord and sound.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/block_renderer.h"
#include "engine/voice_pool.h"
#include "midi/midi_mapping.h"
#include "plugin/ports.h"
#include "tests/plugin/lv2_host.h"
#include "tests/support/engine_fixture.h"

using namespace morvane;

namespace {

constexpr int kHostRate = 48000;
constexpr int kHostBlock = 512;
// A five-note chord: every voice sounds.
constexpr std::uint8_t kChord[] = {48, 52, 55, 60, 64};

// Rate counters would carry a "/s" unit, so the loop is timed here to report plain
// numbers: milliseconds per second of audio, and how many times faster than it plays.
template <typename RenderSecond> void TimeSeconds(benchmark::State& state, RenderSecond render) {
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        render();
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const double perSecond = elapsed.count() / static_cast<double>(state.iterations());
    state.counters["ms_per_audio_second"] = perSecond * 1e3;
    state.counters["real_time_factor"] = 1 / perSecond;
}

void BM_EngineSecondAt22050(benchmark::State& state) {
    auto s = fixture::MakeSynth();
    for (std::uint8_t note : kChord)
        NoteOn(*s, KeyForNote(note));
    std::array<std::int16_t, kBlockSamples> block{};
    TimeSeconds(state, [&] {
        for (int i = 0; i < kSampleRate / kBlockSamples; ++i) {
            RenderBlock(*s, block.data());
            benchmark::DoNotOptimize(block.data());
        }
    });
}

void BM_PluginSecondAt48000(benchmark::State& state) {
    std::string error;
    auto host = Lv2Host::Load(MORVANE_LV2_BUNDLE, lv2::kPluginUri, kHostRate, error);
    if (!host) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::vector<Lv2Host::Midi> chord;
    for (std::uint8_t note : kChord)
        chord.push_back({0, {0x90, note, 100}});
    std::vector<float> out(kHostBlock);
    host->Run(chord, out);
    TimeSeconds(state, [&] {
        for (int frames = 0; frames < kHostRate; frames += kHostBlock) {
            host->Run({}, std::span<float>(out).first(std::min(kHostBlock, kHostRate - frames)));
            benchmark::DoNotOptimize(out.data());
        }
    });
}

} // namespace

BENCHMARK(BM_EngineSecondAt22050);
BENCHMARK(BM_PluginSecondAt48000);
