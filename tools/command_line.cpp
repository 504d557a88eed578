#include "tools/command_line.h"

#include <charconv>
#include <vector>

#include "base/ascii.h"
#include "base/version.h"
#include "midi/block_schedule.h"
#include "settings/presets.h"
#include "tools/midi_score.h"
#include "tools/render_rate.h"

namespace morvane {

const char* const kUsage = "usage: morvane-render [--ini FILE] [--preset N] [--tail SECONDS] "
                           "([--rate HZ] SCORE OUT | --play [--latency MODE] [--audio API] "
                           "[--no-connect] SCORE)";

const char* const kHelp =
    "usage: morvane-render [--ini FILE] [--preset N] [--tail SECONDS] [--rate HZ]\n"
    "                      SCORE OUT\n"
    "       morvane-render [--ini FILE] [--preset N] [--tail SECONDS] --play\n"
    "                      [--latency MODE] [--audio API] [--no-connect] SCORE\n"
    "\n"
    "Plays a score through the synthesizer's engine and writes the sound out, or\n"
    "plays it aloud in real time: 22050 Hz (or --rate HZ), mono, signed 16-bit\n"
    "samples.\n"
    "\n"
    "  SCORE        score file, or - for standard input\n"
    "  OUT          output file: a name ending in .wav gets a WAV file, any other\n"
    "               name raw little-endian samples; - writes raw samples to\n"
    "               standard output. A file takes its name once complete (a link\n"
    "               stays, its target gets the file); a device or a pipe such as\n"
    "               /dev/stdout is written into; OUT may not be the score itself\n"
    "  --rate HZ    write OUT at HZ, 8000..384000 (default 22050, the engine's\n"
    "               own rate, untouched); resampled as for a sound device at HZ,\n"
    "               from its first frame on: the sound starts behind the\n"
    "               resampler's delay of about 2 ms and ends as much later\n"
    "  --play       play on the default sound output instead, the same samples;\n"
    "               returns once the last one has been heard\n"
    "  --latency MODE  low (default): rendered in the sound device's callback;\n"
    "               classic: through the synthesizer's ring of buffers, behind its\n"
    "               half second of silence at start\n"
    "  --audio API  with low latency: auto (default) plays on JACK when a JACK\n"
    "               server runs, else on PipeWire when it runs, else through\n"
    "               PortAudio; portaudio; jack; pipewire\n"
    "  --no-connect leave the JACK port \"out\" or the PipeWire stream unconnected\n"
    "  --ini FILE   settings file whose tuning and preset are loaded at start-up\n"
    "  --preset N   preset slot 0..7 to load from it (default 0)\n"
    "  --tail SECONDS\n"
    "               how long a MIDI file renders past its end (default 2; 0\n"
    "               stops at the end)\n"
    "  -h, --help   show this help\n"
    "  -v, --version  show the version\n"
    "\n"
    "Score lines (# starts a comment):\n"
    "  param NAME VALUE   set a preset key, ECHO_DEPTH, ECHO_TIME or TUNING\n"
    "  on KEY / off KEY   press / release key 0..40\n"
    "  ctrl 0|1           release / hold Ctrl (the LFO gate)\n"
    "  render N           render N blocks of 441 samples\n"
    "\n"
    "A SCORE ending in .mid or .midi (any case) is a Standard MIDI File, format 0\n"
    "or 1. Notes play keys (note 69 is A at 440 Hz; notes beyond the keyboard move\n"
    "by octaves), CC64 is the sustain pedal, CC1 holds the LFO gate, CC120 and\n"
    "CC123 release every key, program changes 0..7 load presets from the --ini\n"
    "file (the defaults without one), and controllers move the sliders its MIDI\n"
    "section binds them to (by default CC74 cutoff, CC71 resonance, CC73 attack,\n"
    "CC75 decay, CC72 release). An event applies before the first 20 ms block that\n"
    "starts at or after it. The file and its tail may last 24 hours at most, which\n"
    "keeps a mistaken tempo from filling the disk and still fits a WAV file.\n"
    "\n"
    "morvane-render --export-lv2-presets INI FOLDER writes the eight presets of the\n"
    "settings file INI, each with its tuning, as an LV2 preset bundle in FOLDER for\n"
    "the plugin urn:morvane:synth (FOLDER ~/.lv2/NAME.lv2 puts them in the hosts'\n"
    "preset lists as NAME F1 .. NAME F8). FOLDER must be new, empty or an earlier\n"
    "export, which is replaced whole; anything else there is left untouched.\n"
    "\n"
    "Exit status: 0 done, 1 the sound device failed, 2 bad input or output.\n";

std::string VersionLine() {
    return std::string("morvane-render ") + kProgramVersion;
}

namespace {

std::optional<int> IntegerIn(std::string_view text, int lowest, int highest) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value < lowest ||
        value > highest)
        return std::nullopt;
    return value;
}

std::optional<int> PresetSlot(std::string_view text) {
    return IntegerIn(text, 0, kPresetSlotCount - 1);
}

// The value of an option given as "--name VALUE" or "--name=VALUE", advancing i past it.
std::optional<std::string_view> OptionValue(std::span<const std::string_view> arguments,
                                            std::size_t& i, std::string_view name) {
    std::string_view argument = arguments[i];
    if (argument.size() > name.size() && argument.substr(0, name.size()) == name &&
        argument[name.size()] == '=')
        return argument.substr(name.size() + 1);
    if (argument != name || i + 1 >= arguments.size())
        return std::nullopt;
    return arguments[++i];
}

bool IsOption(std::string_view argument, std::string_view name) {
    return argument == name || (argument.starts_with(name) && argument[name.size()] == '=');
}

} // namespace

Result<CommandLine> ParseCommandLine(std::span<const std::string_view> arguments) {
    if (!arguments.empty() && arguments[0] == "--export-lv2-presets") {
        if (arguments.size() != 3 || arguments[1].empty() || arguments[2].empty())
            return Error{"--export-lv2-presets needs INI and FOLDER alone"};
        return CommandLine{PresetExport{std::string(arguments[1]), std::string(arguments[2])}};
    }
    RenderJob job;
    std::vector<std::string_view> positional;
    bool optionsEnded = false;
    bool rateGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view a = arguments[i];
        if (optionsEnded || a == "-" || !a.starts_with("-")) {
            positional.push_back(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "-h" || a == "--help") {
            return CommandLine{ShowHelp{}};
        } else if (a == "-v" || a == "--version") {
            return CommandLine{ShowVersion{}};
        } else if (a == "--play") {
            job.play = true;
        } else if (IsOption(a, "--latency")) {
            std::optional<std::string_view> value = OptionValue(arguments, i, "--latency");
            std::optional<Latency> latency = value ? ParseLatency(*value) : std::nullopt;
            if (!latency)
                return Error{"--latency needs low or classic"};
            job.audio.latency = *latency;
        } else if (IsOption(a, "--audio")) {
            std::optional<std::string_view> value = OptionValue(arguments, i, "--audio");
            std::optional<AudioApi> api = value ? ParseAudioApi(*value) : std::nullopt;
            if (!api)
                return Error{"--audio needs auto, portaudio, jack or pipewire"};
            job.audio.output.api = *api;
        } else if (a == "--no-connect") {
            job.audio.output.connect = false;
        } else if (IsOption(a, "--ini")) {
            std::optional<std::string_view> file = OptionValue(arguments, i, "--ini");
            if (!file || file->empty())
                return Error{"--ini needs a FILE"};
            job.settingsFile = std::string(*file);
        } else if (IsOption(a, "--tail")) {
            std::optional<std::string_view> value = OptionValue(arguments, i, "--tail");
            Result<std::int64_t> blocks = value ? TailBlocks(*value) : Error{"no SECONDS"};
            if (!blocks)
                return Error{"--tail needs SECONDS, 0 to 86400"};
            job.tailBlocks = *blocks;
        } else if (IsOption(a, "--rate")) {
            std::optional<std::string_view> value = OptionValue(arguments, i, "--rate");
            std::optional<int> rate =
                value ? IntegerIn(*value, kLowestRenderRate, kHighestRenderRate) : std::nullopt;
            if (!rate)
                return Error{"--rate needs HZ, " + std::to_string(kLowestRenderRate) + " to " +
                             std::to_string(kHighestRenderRate)};
            job.rate = *rate;
            rateGiven = true;
        } else if (IsOption(a, "--preset")) {
            std::optional<std::string_view> value = OptionValue(arguments, i, "--preset");
            std::optional<int> slot = value ? PresetSlot(*value) : std::nullopt;
            if (!slot)
                return Error{"--preset needs a slot 0..7"};
            job.presetSlot = *slot;
        } else {
            return Error{"unknown option '" + Excerpt(a) + "'"};
        }
    }
    if (job.tailBlocks && (positional.empty() || !NamesMidiFile(positional[0])))
        return Error{"--tail is for a MIDI file (.mid, .midi)"};
    if (Status conflict = CheckAudioChoice(job.audio); !conflict)
        return conflict.error();
    if (!job.play && (job.audio.latency != Latency::Low || job.audio.output.api != AudioApi::Auto ||
                      !job.audio.output.connect))
        return Error{"--latency, --audio and --no-connect go with --play"};
    if (job.play) {
        // A device plays at its own rate; the resampler follows it.
        if (rateGiven)
            return Error{"--rate is for OUT; --play plays at the device's rate"};
        if (positional.size() != 1)
            return Error{"--play needs SCORE alone"};
        job.score = positional[0];
        return CommandLine{job};
    }
    if (positional.size() != 2)
        return Error{"needs SCORE and OUT"};
    job.score = positional[0];
    job.output = positional[1];
    return CommandLine{job};
}

} // namespace morvane
