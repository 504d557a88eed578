#pragma once

#include <cstdint>
#include <string_view>

#include "base/result.h"
#include "engine/synth_state.h"
#include "midi/midi_file.h"

// When the events of a MIDI file reach the engine, which renders 22050 samples a second in
// 20 ms blocks: an event at time t is applied before sample n = ceil(t × 22050), the first
// that starts at or after t. An event exactly on a sample's start therefore goes before
// that sample, and every time is compared exactly. The render itself ends with a block.
namespace morvane {

inline constexpr std::int64_t kBlockMicroseconds = 20000; // 441 samples at 22050 Hz

// The first block that starts at or after the time, given in the file's unit
// (microseconds times ticks per quarter note).
std::int64_t FirstBlockAtOrAfter(std::int64_t time, int ticksPerQuarter);

// The first sample that starts at or after the time, in the same unit.
std::int64_t FirstSampleAtOrAfter(std::int64_t time, int ticksPerQuarter);

// The first block at or after the file's end: rendering blocks 0 .. EndBlock - 1 plays the
// file through its end.
std::int64_t EndBlock(const MidiFile& file);

// The blocks that a tail of the given seconds adds after the file's end: round(50 ×
// seconds), halves up, from a decimal text such as "2" or "0.25" read exactly. Up to a
// day; anything else (a sign, an exponent, letters) is an error.
Result<std::int64_t> TailBlocks(std::string_view seconds);

} // namespace morvane
