#pragma once

#include <functional>
#include <iosfwd>

#include "audio/block_player.h"
#include "tools/command_line.h"

namespace morvane {

// Plays blocks through the classic ring until the source runs out: the default output
// device, or a device of the caller's choosing.
using ClassicPlayer = std::function<PlayOutcome(const NextBlock& nextBlock)>;

// Reads the score, starts the engine as the program starts, plays the score and writes
// the samples out, or plays them aloud for a --play job. Returns kExitSuccess, or after
// one line per error kExitFailure (bad input or output; a failed job leaves no output
// file) or kExitDeviceFailure (the sound device failed). The streams stand for standard
// input and output. --latency=classic plays through player; low opens the device the
// job names and renders in its callback.
int RunRenderJob(const RenderJob& job, std::istream& input, std::ostream& output,
                 std::ostream& errors, const ClassicPlayer& player = PlayBlocksOnDefaultDevice);

} // namespace morvane
