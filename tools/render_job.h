#pragma once

#include <functional>
#include <iosfwd>

#include "audio/audio_session.h"
#include "tools/command_line.h"

namespace morvane {

// Reads the score, starts the engine as the program starts, plays the score and writes
// the samples out, or plays them aloud for a --play job. Returns kExitSuccess, or after
// one line per error kExitFailure (bad input or output; a failed job leaves no output
// file) or kExitDeviceFailure (the sound device failed). The streams stand for standard
// input and output. A --play job opens its device with open and renders in its callback,
// through the classic mode's lead for --latency=classic.
int RunRenderJob(const RenderJob& job, std::istream& input, std::ostream& output,
                 std::ostream& errors, const OutputOpener& open = RealtimeOutput::Open);

} // namespace morvane
