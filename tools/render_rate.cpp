#include "tools/render_rate.h"

#include <algorithm>
#include <array>
#include <span>
#include <string>

#include "audio/resampler.h"
#include "audio/wav_recorder.h"
#include "base/little_endian.h"

namespace morvane {

Result<std::uint64_t> FramesAtRate(std::uint64_t engineSamples, int rate) {
    if (engineSamples == 0)
        return 0; // no last sample to wait for
    Result<Resampler> resampler = Resampler::Create(rate);
    if (!resampler)
        return resampler.error();
    const std::uint64_t spanned =
        (engineSamples * static_cast<std::uint64_t>(rate) + kSampleRate - 1) / kSampleRate;
    return spanned + static_cast<std::uint64_t>(resampler->DelayFrames());
}

namespace {

Status PlayAtEngineRate(const NextBlock& nextBlock, const ByteSink& sink) {
    std::array<std::int16_t, kBlockSamples> block{};
    std::array<char, kBlockBytes> bytes{};
    while (nextBlock(block.data())) {
        for (int n = 0; n < kBlockSamples; ++n)
            StoreLittleEndian(static_cast<std::uint16_t>(block[n]), &bytes[2 * n]);
        if (Status written = sink({bytes.data(), bytes.size()}); !written)
            return written;
    }
    return {};
}

} // namespace

Status PlayAtRate(const NextBlock& nextBlock, int rate, std::uint64_t frames,
                  const ByteSink& sink) {
    if (rate == kSampleRate)
        return PlayAtEngineRate(nextBlock, sink);
    Result<Resampler> resampler = Resampler::Create(rate);
    if (!resampler)
        return resampler.error();

    std::array<std::int16_t, kBlockSamples> block{};
    std::size_t blockUsed = block.size();
    bool scoreOver = false;
    std::array<std::int16_t, 2048> out{};
    std::array<char, 2 * out.size()> bytes{};
    for (std::uint64_t written = 0; written < frames;) {
        if (blockUsed == block.size()) {
            if (!scoreOver)
                scoreOver = !nextBlock(block.data());
            if (scoreOver)
                block.fill(0);
            blockUsed = 0;
        }
        const std::size_t room = std::min<std::uint64_t>(out.size(), frames - written);
        const Resampler::Progress progress =
            resampler->Process(std::span<const std::int16_t>(block).subspan(blockUsed),
                               std::span<std::int16_t>(out.data(), room));
        // A stuck filter would otherwise spin here for ever.
        if (progress.consumed == 0 && progress.produced == 0)
            return Error{"the resampler to " + std::to_string(rate) + " Hz stopped"};
        blockUsed += progress.consumed;
        for (int n = 0; n < progress.produced; ++n)
            StoreLittleEndian(static_cast<std::uint16_t>(out[n]), &bytes[2 * n]);
        if (Status sent = sink({bytes.data(), 2 * static_cast<std::size_t>(progress.produced)});
            !sent)
            return sent;
        written += progress.produced;
    }
    return {};
}

} // namespace morvane
