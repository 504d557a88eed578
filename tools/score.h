#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string_view>
#include <vector>

#include "audio/player_event.h"
#include "base/result.h"

// A score for the offline renderer: one command a line, played in order through the
// real-time player at its own pace; every command but render and wait takes effect at the
// sample the renders and waits before it have reached. A MIDI file becomes the same events.
namespace morvane::score {

// param NAME VALUE moves the control as the preset loader does (the value is within the
// control's range), TUNING as the tuning control does; on and off are the keys, ctrl the
// Ctrl key's hold on the LFO gate, render the blocks to render and wait the samples.
struct Score {
    std::vector<PlayerEvent> events;
    // The blocks of all render and wait commands together, the last one begun counted whole.
    std::uint64_t blocks = 0;
};

// Longer lines are an error: the reader holds one line at a time and never more than
// this, whatever arrives.
inline constexpr std::size_t kLongestLine = 4096;

// The whole score, or the first wrong line as "NAME:LINE: what is wrong", NAME being
// how the score is known to the user: nothing is played from a broken score.
Result<Score> ReadScore(std::istream& in, std::string_view name);

} // namespace morvane::score
