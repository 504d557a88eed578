#include "ui/program_options.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "base/version.h"

namespace morvane {

namespace {

// What an option does once seen: finish the parse with another command, change the
// start options (value is the option's argument, empty for a flag) and go on (nothing),
// or refuse its value.
using OptionOutcome = Result<std::optional<ProgramCommandLine>>;
using OptionAction = OptionOutcome (*)(StartOptions& options, std::string_view value);

OptionOutcome Finish(ProgramCommandLine command) {
    return std::optional<ProgramCommandLine>(std::move(command));
}

OptionOutcome GoOn() {
    return std::optional<ProgramCommandLine>();
}

struct OptionRow {
    std::string_view shortName; // empty where the option has none
    std::string_view longName;
    std::string_view valueName; // empty for a flag
    std::string_view help;
    OptionAction action;
};

const OptionRow kOptions[] = {
    {"-h", "--help", "", "show this help and exit",
     [](StartOptions&, std::string_view) -> OptionOutcome { return Finish(PrintUsage{}); }},
    {"-v", "--version", "", "show the version and exit",
     [](StartOptions&, std::string_view) -> OptionOutcome { return Finish(PrintVersion{}); }},
    {"", "--latency", "MODE", "low (default): render in the sound callback; classic: 100 ms ahead",
     [](StartOptions& options, std::string_view value) -> OptionOutcome {
         std::optional<Latency> latency = ParseLatency(value);
         if (!latency)
             return Error{"--latency must be low or classic"};
         options.audio.latency = *latency;
         return GoOn();
     }},
    {"", "--audio", "API",
     "auto (default): JACK if a server runs, else PipeWire, else portaudio; or jack, pipewire",
     [](StartOptions& options, std::string_view value) -> OptionOutcome {
         std::optional<AudioApi> api = ParseAudioApi(value);
         if (!api)
             return Error{"--audio must be auto, portaudio, jack or pipewire"};
         options.audio.output.api = *api;
         return GoOn();
     }},
    {"", "--no-connect", "", "leave the JACK port or PipeWire stream unconnected",
     [](StartOptions& options, std::string_view) -> OptionOutcome {
         options.audio.output.connect = false;
         return GoOn();
     }},
    {"", "--midi-channel", "N", "listen to MIDI channel N (1..16) alone; default all",
     [](StartOptions& options, std::string_view value) -> OptionOutcome {
         int channel = 0;
         const auto [end, error] =
             std::from_chars(value.data(), value.data() + value.size(), channel);
         if (error != std::errc{} || end != value.data() + value.size() || channel < 1 ||
             channel > 16)
             return Error{"--midi-channel must be a number from 1 to 16"};
         options.midiChannel = channel;
         return GoOn();
     }},
    {"", "--lang", "LANG", "ja or en: the window's language; default from the locale",
     [](StartOptions& options, std::string_view value) -> OptionOutcome {
         if (value == "ja")
             options.language = UiLanguage::Japanese;
         else if (value == "en")
             options.language = UiLanguage::English;
         else
             return Error{"--lang must be ja or en"};
         return GoOn();
     }},
};

// The row an argument names, as "-x", "--name", or "--name=VALUE" for an option that
// takes a value.
const OptionRow* FindOption(std::string_view argument) {
    for (const OptionRow& row : kOptions) {
        if (argument == row.longName || (!row.shortName.empty() && argument == row.shortName))
            return &row;
        if (!row.valueName.empty() && argument.starts_with(row.longName) &&
            argument.size() > row.longName.size() && argument[row.longName.size()] == '=')
            return &row;
    }
    return nullptr;
}

} // namespace

Result<ProgramCommandLine> ParseProgramCommandLine(std::span<const std::string_view> arguments) {
    StartOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        const OptionRow* row = FindOption(argument);
        if (!row) {
            if (argument.starts_with("-"))
                return Error{"unknown option '" + std::string(argument) + "'"};
            return Error{"unexpected argument '" + std::string(argument) + "'"};
        }
        std::string_view value;
        if (!row->valueName.empty()) {
            const std::size_t equals = argument.find('=');
            if (equals != std::string_view::npos)
                value = argument.substr(equals + 1);
            else if (i + 1 < arguments.size())
                value = arguments[++i];
            else
                return Error{std::string(row->longName) + " needs " + std::string(row->valueName)};
        }
        OptionOutcome outcome = row->action(options, value);
        if (!outcome)
            return outcome.error();
        if (*outcome)
            return **outcome;
    }
    if (Status conflict = CheckAudioChoice(options.audio); !conflict)
        return conflict.error();
    return ProgramCommandLine{options};
}

std::string ProgramUsage() {
    std::string usage = "usage: morvane [OPTION]...\n"
                        "\n"
                        "Plays the synthesizer from the computer keyboard, its window and MIDI.\n"
                        "\n";
    constexpr std::size_t kHelpColumn = 26;
    for (const OptionRow& row : kOptions) {
        std::string line = "  ";
        if (row.shortName.empty())
            line.append("    ");
        else
            line.append(row.shortName).append(", ");
        line.append(row.longName);
        if (!row.valueName.empty())
            line.append(" ").append(row.valueName);
        line.resize(std::max(line.size() + 2, kHelpColumn), ' ');
        usage.append(line).append(row.help).append("\n");
    }
    usage += "\nExit status: 0 after the window has closed, 1 without a display, 2 for a bad "
             "command line.\n";
    return usage;
}

std::string ProgramVersion() {
    return std::string("morvane ") + kProgramVersion;
}

} // namespace morvane
