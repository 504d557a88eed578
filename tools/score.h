#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string_view>
#include <variant>
#include <vector>

#include "base/result.h"
#include "engine/parameters.h"

// A score for the offline renderer: one command a line, played in order through the
// engine; every command but render takes effect between two blocks.
namespace morvane::score {

// param NAME VALUE for a panel control, as the preset loader applies it.
struct SetControl {
    ControlId control;
    int value;
};
// param TUNING VALUE, as the tuning control applies it.
struct SetTuning {
    int tuning;
};
struct KeyDown {
    int key;
};
struct KeyUp {
    int key;
};
// ctrl 0 / ctrl 1: the LFO gate.
struct SetCtrl {
    bool held;
};
struct Render {
    std::uint64_t blocks;
};

using Command = std::variant<SetControl, SetTuning, KeyDown, KeyUp, SetCtrl, Render>;

struct Score {
    std::vector<Command> commands;
    std::uint64_t blocks = 0; // the blocks of all render commands together
};

// Longer lines are an error: the reader holds one line at a time and never more than
// this, whatever arrives.
inline constexpr std::size_t kLongestLine = 4096;

// The whole score, or the first wrong line as "NAME:LINE: what is wrong", NAME being
// how the score is known to the user: nothing is played from a broken score.
Result<Score> ReadScore(std::istream& in, std::string_view name);

} // namespace morvane::score
