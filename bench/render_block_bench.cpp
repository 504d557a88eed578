#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdint>

#include "engine/block_renderer.h"
#include "engine/voice_pool.h"
#include "tests/support/engine_fixture.h"

using namespace morvane;

namespace {

constexpr double kBlockSeconds = double(kBlockSamples) / kSampleRate; // 20 ms

// Rate counters would carry a "/s" unit, so the loop is timed here to report plain
// numbers: microseconds per block, and how many times faster than the audio plays.
void RenderBlocks(benchmark::State& state, SynthState& s) {
    std::array<std::int16_t, kBlockSamples> block{};
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        RenderBlock(s, block.data());
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
    }
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    double perBlock = elapsed.count() / static_cast<double>(state.iterations());
    state.counters["us_per_block"] = perBlock * 1e6;
    state.counters["real_time_factor"] = kBlockSeconds / perBlock;
}

// Only the master chain: echo and distortion filter run on silence.
void BM_RenderBlockNoVoice(benchmark::State& state) {
    auto s = fixture::MakeSynth();
    RenderBlocks(state, *s);
}

void BM_RenderBlockOneVoice(benchmark::State& state) {
    auto s = fixture::MakeSynth();
    fixture::Press(*s, {13});
    RenderBlocks(state, *s);
}

// Five held voices with every costly feature on.
void BM_RenderBlockWorstCase(benchmark::State& state) {
    auto s = fixture::MakeSynth();
    fixture::SetWorstCaseSound(*s);
    for (int key : fixture::kWorstCaseChord)
        NoteOn(*s, key);
    RenderBlocks(state, *s);
}

} // namespace

BENCHMARK(BM_RenderBlockNoVoice);
BENCHMARK(BM_RenderBlockOneVoice);
BENCHMARK(BM_RenderBlockWorstCase);
