#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "base/result.h"
#include "midi/midi_message.h"

// A Standard MIDI File (format 0 or 1, a division in ticks per quarter note) read whole
// into its channel messages at exact times. Tempo events make the time; system exclusive
// and the other meta events are skipped.
namespace morvane {

// Real songs take some kilobytes; the cap bounds what a broken or hostile file can cost:
// at most one event per two bytes of file.
inline constexpr std::size_t kLargestMidiFile = 16 * 1024 * 1024;

struct MidiFileEvent {
    // When the message is due, in microseconds times the file's ticks per quarter note:
    // a tempo is whole microseconds per quarter note, so every time is a whole number of
    // this unit and nothing is rounded.
    std::int64_t time;
    std::uint32_t offset; // where the event starts in the file; orders a track's events
    std::uint16_t track;  // 0, 1, ... in the order the tracks come in the file
    MidiMessage message;
};

struct MidiFile {
    int format = 0;
    int ticksPerQuarter = 0;
    // In the order of application: by time, then track, then place in the file.
    std::vector<MidiFileEvent> events;
    std::int64_t end = 0; // the latest end of a track, in the unit of the event times
};

// A broken file is an error that names the byte offset where reading stopped.
Result<MidiFile> ReadMidiFile(std::span<const std::uint8_t> bytes);

// Reads the file whole, at most kLargestMidiFile bytes, and then as ReadMidiFile. The
// errors begin with the path.
Result<MidiFile> LoadMidiFile(const std::filesystem::path& path);

} // namespace morvane
