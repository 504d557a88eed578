#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "audio/audio_choice.h"
#include "base/result.h"
#include "ui/translation.h"

// The command line of the synthesizer. It is read before any window system is touched,
// so that --help and --version work without a display.
namespace morvane {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitNoDisplay = 1;
inline constexpr int kExitUsage = 2;

// Start the window with these settings.
struct StartOptions {
    AudioChoice audio;
    std::optional<int> midiChannel;     // 1..16; every channel when empty
    std::optional<UiLanguage> language; // the locale's when empty
};
struct PrintUsage {};
struct PrintVersion {};
using ProgramCommandLine = std::variant<StartOptions, PrintUsage, PrintVersion>;

// The arguments after the program's name; an error says what is wrong with them.
Result<ProgramCommandLine> ParseProgramCommandLine(std::span<const std::string_view> arguments);

// The synopsis and one line for every option.
std::string ProgramUsage();
// "morvane" and the version number.
std::string ProgramVersion();

} // namespace morvane
