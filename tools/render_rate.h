#pragma once

#include <cstdint>

#include <functional>
#include <string_view>

#include "base/result.h"

// Renders at a rate other than the engine's own, for a file to drop into a project that
// runs at 44.1 or 48 kHz.
namespace morvane {

// The rates --rate takes: those of sound devices and hosts. Below 8 kHz most of the
// engine's 11 kHz band would be filtered away; nothing runs above 384 kHz.
inline constexpr int kLowestRenderRate = 8000;
inline constexpr int kHighestRenderRate = 384000;

// How many frames a render of engineSamples samples takes at rate: as many as span the
// engine's samples, plus the resampler's delay, so that the last engine sample has come
// out of its filter whole. At the engine's own rate the samples themselves; none for
// none. An error if the resampler cannot run at rate.
Result<std::uint64_t> FramesAtRate(std::uint64_t engineSamples, int rate);

// Fills the next block of kBlockSamples samples and returns true, or returns false when
// there is nothing more to play.
using NextBlock = std::function<bool(std::int16_t* block)>;

// Takes the bytes of one piece of the render at a time; an error stops the render.
using ByteSink = std::function<Status(std::string_view bytes)>;

// Plays every block nextBlock gives through the same resampler as a sound device at rate,
// and hands the first frames it puts out to sink as signed 16-bit little-endian samples.
// Nothing is trimmed: the frames start behind the resampler's delay, exactly as a device
// at rate gets them. Silence follows the last block to flush the filter, as the real-time
// player feeds silence once the score is over. At the engine's own rate the blocks pass
// untouched. The sink's error, if it fails.
Status PlayAtRate(const NextBlock& nextBlock, int rate, std::uint64_t frames, const ByteSink& sink);

} // namespace morvane
