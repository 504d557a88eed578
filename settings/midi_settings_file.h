#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "engine/playing.h"
#include "settings/midi_bindings_file.h"

// The player's MIDI settings beside the controller bindings in section MIDI: the channel
// listened to ("CHANNEL=0" for every channel, 1..16 for one) and the MIDI sources the
// program connects to its input, one line each ("SOURCE1=...", "SOURCE2=..."), as a port
// name may hold any character a line can; how velocity and the bend wheel play
// (VELOCITY_AMP, VELOCITY_CUTOFF, BEND_RANGE). Presets and the tuning leave them alone.
namespace morvane {

inline constexpr int kAllMidiChannels = 0;
inline constexpr int kLastMidiChannel = 16;

struct MidiSettings {
    int channel = kAllMidiChannels;
    // Port names, in the order the file lists them, none twice.
    std::vector<std::string> sources;
    PlayingParameters playing{};
    friend bool operator==(const MidiSettings&, const MidiSettings&) = default;
};

// The keys of the section that are not controller bindings.
bool IsMidiSettingKey(std::string_view key);

// A missing file or key gives the defaults. A channel out of 0..16, or a playing value out
// of its range, is clamped to it; one that is no integer is skipped and reported, as a
// broken binding line is.
Result<MidiSettings> LoadMidiSettings(const std::filesystem::path& settingsFile,
                                      const SkippedBindingLine& skipped = {});

// Each writes its own lines and nothing else, the file back in one piece.
Status SaveMidiChannel(const std::filesystem::path& settingsFile, int channel);
Status SaveMidiPlaying(const std::filesystem::path& settingsFile, PlayingControl control,
                       int value);
Status SaveMidiSources(const std::filesystem::path& settingsFile,
                       const std::vector<std::string>& sources);

} // namespace morvane
