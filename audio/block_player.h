#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "audio/wave_out_device.h"

namespace morvane {

// Fills the next block of kBlockSamples samples and returns true, or returns false when
// there is nothing more to play.
using NextBlock = std::function<bool(std::int16_t* block)>;

struct PlayOutcome {
    // The device's messages in the order they came, "Problem creating play handle" first
    // among them when the device could not be opened.
    std::vector<std::string> errors;
    // Gaps heard in the output (real device only).
    long underruns = 0;
    bool Played() const { return errors.empty(); }
};

// Plays blocks through the streaming ring without a window, on the calling thread: the
// silent priming buffers first, then one block asked for at each completion, until the
// last block has been heard.
PlayOutcome PlayBlocks(WaveOutDevice& device, const NextBlock& nextBlock);
// The same on the default output device.
PlayOutcome PlayBlocksOnDefaultDevice(const NextBlock& nextBlock);

} // namespace morvane
