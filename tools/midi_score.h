#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

#include "base/result.h"
#include "midi/controller_bindings.h"
#include "midi/midi_file.h"
#include "tools/score.h"

// A Standard MIDI File played as a score: its messages go through the same mapping as
// live MIDI input, and its commands become the score's events, each applied before the
// first sample that starts at or after its message's time.
namespace morvane {

// Two seconds after the file's end, for the release and the echo to die away.
inline constexpr std::int64_t kDefaultTailBlocks = 100;

// A day of sound at most, file and tail together: 190 MB of samples, which still fit a
// WAV file. A short file of a few slow ticks can otherwise ask for years.
inline constexpr std::int64_t kLongestMidiRenderBlocks = 24 * 60 * 60 * 50;

// SCORE names a MIDI file when it ends in .mid or .midi, in any letter case.
bool NamesMidiFile(std::string_view path);

// The file's events as commands, with render commands between them, through the
// file's end and tailBlocks more. Controllers move the sliders the bindings give them;
// only the channel's messages play (1..16, every channel's when empty).
Result<score::Score> MidiScore(const MidiFile& file, std::int64_t tailBlocks,
                               const ControllerBindings& bindings,
                               std::optional<int> channel = std::nullopt);

// Reads the file and then as MidiScore; errors begin with the path, and a broken file's
// error names the byte offset where reading stopped.
Result<score::Score> ReadMidiScore(const std::filesystem::path& path, std::int64_t tailBlocks,
                                   const ControllerBindings& bindings,
                                   std::optional<int> channel = std::nullopt);

} // namespace morvane
