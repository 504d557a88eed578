#pragma once

#include <iosfwd>

#include "tools/command_line.h"

namespace morvane {

// Reads the score, starts the engine as the program starts, plays the score and writes
// the samples out. Returns kExitSuccess, or kExitFailure after one line on errors; a
// failed job leaves no output file. The streams stand for standard input and output.
int RunRenderJob(const RenderJob& job, std::istream& input, std::ostream& output,
                 std::ostream& errors);

} // namespace morvane
