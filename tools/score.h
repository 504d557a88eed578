#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <variant>
#include <vector>

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

struct ScoreError {
    int line; // counted from 1; 0 when the input could not be read at all
    std::string message;
};

// The whole score, or the first wrong line: nothing is played from a broken score.
std::variant<Score, ScoreError> ReadScore(std::istream& in);

} // namespace morvane::score
