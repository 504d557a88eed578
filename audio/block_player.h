#pragma once

#include <cstdint>
#include <functional>

#include "audio/wave_out_device.h"
#include "base/result.h"

namespace morvane {

// Fills the next block of kBlockSamples samples and returns true, or returns false when
// there is nothing more to play.
using NextBlock = std::function<bool(std::int16_t* block)>;

// Blocks played to the end, and the gaps heard in them (real device only).
struct Played {
    long underruns = 0;
};
// Or the device's messages, a line each in the order they came, "Problem creating play
// handle" first when the device could not be opened.
using PlayOutcome = Result<Played>;

// Plays blocks through the streaming ring without a window, on the calling thread: the
// silent priming buffers first, then one block asked for at each completion, until the
// last block has been heard.
PlayOutcome PlayBlocks(WaveOutDevice& device, const NextBlock& nextBlock);
// The same on the default output device.
PlayOutcome PlayBlocksOnDefaultDevice(const NextBlock& nextBlock);

} // namespace morvane
