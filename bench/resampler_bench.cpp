#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <vector>

#include "audio/resampler.h"
#include "engine/synth_state.h"

using namespace morvane;

namespace {

// One engine block through the resampler per iteration, as the audio callback will do
// it: what resampling adds to the render time of a block, at the usual device rates.
template <typename Sample> void BM_ResampleBlock(benchmark::State& state) {
    auto resampler = Resampler::Create(static_cast<int>(state.range(0)));
    if (!resampler.ok()) {
        state.SkipWithError(resampler.error().message.c_str());
        return;
    }
    std::array<std::int16_t, kBlockSamples> block{};
    for (int i = 0; i < kBlockSamples; ++i)
        block[i] = static_cast<std::int16_t>((i * 997) % 20000 - 10000);
    std::vector<Sample> out(2 * kBlockSamples * state.range(0) / kSampleRate);
    for (auto _ : state) {
        auto progress = resampler->Process(block, std::span(out));
        benchmark::DoNotOptimize(progress);
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(BM_ResampleBlock<float>)
    ->Arg(22050)
    ->Arg(44100)
    ->Arg(48000)
    ->Arg(96000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ResampleBlock<std::int16_t>)->Arg(44100)->Arg(48000)->Unit(benchmark::kMicrosecond);
