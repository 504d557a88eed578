#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "audio/audio_choice.h"
#include "base/result.h"
#include "engine/synth_tables.h"

// The command line of morvane-render.
namespace morvane {

inline constexpr int kExitSuccess = 0;
// The sound device could not be opened or failed while playing.
inline constexpr int kExitDeviceFailure = 1;
// Bad input, or output that could not be written.
inline constexpr int kExitFailure = 2;

// Render a score to a file or to standard output, or play it aloud.
struct RenderJob {
    std::optional<std::string> settingsFile; // --ini FILE
    int presetSlot = 0;                      // --preset N
    bool play = false;                       // --play: to the default output device
    std::optional<std::int64_t> tailBlocks;  // --tail SECONDS, for a MIDI file
    int rate = kSampleRate;                  // --rate HZ: OUT's sample rate
    AudioChoice audio;                       // --latency, --audio, --no-connect
    std::string score;                       // a path, or "-" for standard input
    std::string output;                      // a path, or "-" for standard output; unused with play
};
// --export-lv2-presets INI FOLDER: the settings file's presets as an LV2 preset bundle.
struct PresetExport {
    std::string settingsFile;
    std::string folder;
};
struct ShowHelp {};
struct ShowVersion {};
using CommandLine = std::variant<RenderJob, PresetExport, ShowHelp, ShowVersion>;

// The arguments after the program's name; an error says what is wrong with them.
Result<CommandLine> ParseCommandLine(std::span<const std::string_view> arguments);

// The one-line synopsis, the full help that -h prints, and what --version prints.
extern const char* const kUsage;
extern const char* const kHelp;
std::string VersionLine();

} // namespace morvane
