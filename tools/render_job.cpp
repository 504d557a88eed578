#include "tools/render_job.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <ostream>
#include <sstream>
#include <thread>

#include "audio/realtime_output.h"
#include "audio/realtime_player.h"
#include "audio/wav_recorder.h"
#include "base/ascii.h"
#include "settings/midi_bindings_file.h"
#include "settings/midi_settings_file.h"
#include "tools/midi_score.h"
#include "tools/output_file.h"
#include "tools/render_rate.h"
#include "tools/render_start.h"
#include "tools/score.h"
#include "tools/score_feeder.h"

namespace morvane {

namespace {

constexpr std::string_view kStandardStream = "-";
constexpr std::string_view kProgram = "morvane-render: ";
constexpr const char* kStandardInputFile = "/dev/stdin";

bool NamesWavFile(std::string_view path) {
    return EndsWithIgnoringAsciiCase(path, ".wav");
}

// The RIFF size field is 32 bits wide: it must hold the header's 38 bytes after it and
// every sample.
bool FitsInWav(std::uint64_t frames) {
    constexpr std::uint64_t kLargestRiffSize = std::numeric_limits<std::uint32_t>::max();
    constexpr std::uint64_t kRiffSizeWithoutSamples = kWavHeaderBytes - 8;
    return frames <= (kLargestRiffSize - kRiffSizeWithoutSamples) / sizeof(std::int16_t);
}

// Controllers move the sliders that the settings file binds them to, and only the channel
// it listens to plays, as in the program; a line of the section that says nothing sensible
// is named and skipped.
Result<score::Score> ReadMidiScoreOf(const RenderJob& job, std::ostream& errors) {
    Result<ControllerBindings> bindings = ControllerBindings::Defaults();
    std::optional<int> channel;
    if (job.settingsFile) {
        const auto skipped = [&](const std::string& line, const std::string& why) {
            errors << kProgram << *job.settingsFile << ", section MIDI: skipped \"" << line
                   << "\": " << why << '\n';
        };
        bindings = LoadControllerBindings(*job.settingsFile, skipped);
        if (!bindings)
            return Error{std::string(kProgram) + bindings.error().message};
        const Result<MidiSettings> midi = LoadMidiSettings(*job.settingsFile, skipped);
        if (!midi)
            return Error{std::string(kProgram) + midi.error().message};
        if (midi->channel != kAllMidiChannels)
            channel = midi->channel;
    }
    return ReadMidiScore(job.score, job.tailBlocks.value_or(kDefaultTailBlocks), *bindings,
                         channel);
}

Result<score::Score> ReadScoreOf(const RenderJob& job, std::istream& input, std::ostream& errors) {
    if (NamesMidiFile(job.score))
        return ReadMidiScoreOf(job, errors);
    if (job.score == kStandardStream)
        return score::ReadScore(input, "<stdin>");
    errno = 0;
    std::ifstream file(job.score, std::ios::binary);
    if (!file)
        return Error{std::string(kProgram) + "cannot open score '" + job.score +
                     "': " + std::strerror(errno)};
    return score::ReadScore(file, job.score);
}

Result<RenderStart> StartUp(const RenderJob& job) {
    if (!job.settingsFile)
        return FreshStart();
    // The program takes a missing settings file for a fresh installation; a file named
    // on the command line and not found is more likely a typing error.
    std::error_code ignored;
    if (!std::filesystem::exists(*job.settingsFile, ignored))
        return Error{std::string(kProgram) + "settings file '" + *job.settingsFile + "' not found"};
    Result<RenderStart> started = StartFrom(*job.settingsFile, job.presetSlot);
    if (!started)
        return Error{std::string(kProgram) + started.error().message};
    return started;
}

// Samples written over their own score would lose it, the one thing not to be lost.
// A score read from standard input may be a file redirected there.
Status CheckOutputIsNotTheScore(const RenderJob& job) {
    const std::string score = job.score == kStandardStream ? kStandardInputFile : job.score;
    if (SameFile(score, job.output))
        return Error{std::string(kProgram) + "'" + job.output +
                     "' is the score itself; it is left as it is"};
    return {};
}

// The score played through a scored player at the render's own pace, a block at a time.
Status RenderScore(const RenderStart& start, const score::Score& score, int rate,
                   std::uint64_t frames, const ByteSink& sink) {
    Result<std::unique_ptr<RealtimePlayer>> player =
        RealtimePlayer::Create(start.sound, RealtimePlayer::Pace::Scored, kSampleRate);
    if (!player)
        return player.error();
    ScoreFeeder feeder(start, score);
    return PlayAtRate([&](std::int16_t* block) { return NextScoreBlock(**player, feeder, block); },
                      rate, frames, sink);
}

Status RenderToFile(const RenderStart& start, const score::Score& score, int rate,
                    std::uint64_t frames, const std::string& path) {
    auto failed = [](const Error& error) { return Error{std::string(kProgram) + error.message}; };
    Result<OutputFile> file = OutputFile::Open(path);
    if (!file)
        return failed(file.error());
    if (NamesWavFile(path)) {
        auto header = WavHeader(static_cast<std::uint32_t>(frames * sizeof(std::int16_t)),
                                static_cast<std::uint32_t>(rate));
        Status written = file->Write({reinterpret_cast<const char*>(header.data()), header.size()});
        if (!written)
            return failed(written.error());
    }
    Status played = RenderScore(start, score, rate, frames,
                                [&](std::string_view bytes) { return file->Write(bytes); });
    if (!played)
        return failed(played.error());
    if (Status committed = file->Commit(); !committed)
        return failed(committed.error());
    return {};
}

// The gaps heard in a score played to the end; or the device's message.
struct Played {
    long underruns = 0;
};
using PlayOutcome = Result<Played>;

// Renders in the device's callback, feeding the score as the queue makes room, until
// the last sample has been heard or the device is gone.
PlayOutcome PlayInCallback(RealtimeOutput& output, RealtimePlayer& player, ScoreFeeder& feeder) {
    constexpr auto kFeedInterval = std::chrono::milliseconds(5);
    // A device that takes no samples for this long is stuck.
    constexpr auto kStallLimit = std::chrono::seconds(2);
    feeder.Feed(player);
    output.Attach(player);
    std::uint64_t framesSeen = 0;
    auto lastProgress = std::chrono::steady_clock::now();
    for (;;) {
        if (std::optional<Error> loss = output.Loss())
            return Error{WithReason(kWriteError, *loss)};
        if (output.Heard())
            break;
        const auto now = std::chrono::steady_clock::now();
        if (player.FramesOut() != framesSeen) {
            framesSeen = player.FramesOut();
            lastProgress = now;
        } else if (now - lastProgress > kStallLimit) {
            return Error{WithReason(kWriteError, Error{"the device stopped playing"})};
        }
        feeder.Feed(player);
        output.Tend();
        std::this_thread::sleep_for(kFeedInterval);
    }
    return Played{.underruns = output.Underruns() + player.Starved()};
}

// Both latency modes render through the same player as the synthesizer, in the
// device's callback: the classic one through its lead of rendered blocks.
PlayOutcome PlayThroughPlayer(const RenderStart& start, const score::Score& score,
                              const AudioChoice& audio, const OutputOpener& open) {
    const AudioSessionSetup setup =
        audio.latency == Latency::Low ? LowLatencySession(audio.output) : ClassicSession();
    // A score player is no instrument: a note sent to it would sound in the score.
    RealtimeOutputOptions options = setup.output;
    options.midiInput = false;
    Result<std::unique_ptr<RealtimeOutput>> output = open(options);
    if (!output)
        return Error{WithReason(kOpenError, output.error())};
    Result<std::unique_ptr<RealtimePlayer>> player =
        RealtimePlayer::Create(start.sound, RealtimePlayer::Pace::Scored, (*output)->SampleRate());
    if (!player)
        return Error{WithReason(kOpenError, player.error())};
    if (Status kept = (*player)->KeepLead(setup.lead); !kept)
        return Error{WithReason(kOpenError, kept.error())};
    ScoreFeeder feeder(start, score);
    PlayOutcome outcome = PlayInCallback(**output, **player, feeder);
    // The callbacks stop before the player goes.
    output->reset();
    return outcome;
}

int PlayAloud(const RenderStart& start, const score::Score& score, const AudioChoice& audio,
              const OutputOpener& open, std::ostream& errors) {
    PlayOutcome outcome = PlayThroughPlayer(start, score, audio, open);
    if (!outcome) {
        std::istringstream lines(outcome.error().message);
        for (std::string line; std::getline(lines, line);)
            errors << kProgram << line << '\n';
        return kExitDeviceFailure;
    }
    // Every sample went out, but not in one piece: worth knowing when comparing a
    // recording of it with the rendered file.
    if (outcome->underruns > 0)
        errors << kProgram << "the sound had " << outcome->underruns
               << " gap(s): the computer did not keep up\n";
    return kExitSuccess;
}

} // namespace

int RunRenderJob(const RenderJob& job, std::istream& input, std::ostream& output,
                 std::ostream& errors, const OutputOpener& open) {
    auto fail = [&](const Error& error) {
        errors << error.message << '\n';
        return kExitFailure;
    };
    Result<score::Score> read = ReadScoreOf(job, input, errors);
    if (!read)
        return fail(read.error());
    const score::Score& score = *read;

    Result<std::uint64_t> frames = FramesAtRate(score.blocks * kBlockSamples, job.rate);
    if (!frames)
        return fail(Error{std::string(kProgram) + frames.error().message});
    bool toStandardOutput = job.output == kStandardStream;
    if (!job.play && !toStandardOutput) {
        if (Status separate = CheckOutputIsNotTheScore(job); !separate)
            return fail(separate.error());
        if (NamesWavFile(job.output) && !FitsInWav(*frames))
            return fail(Error{std::string(kProgram) + "the score's " +
                              std::to_string(score.blocks) + " blocks at " +
                              std::to_string(job.rate) + " Hz are too long for a WAV file"});
    }

    Result<RenderStart> start = StartUp(job);
    if (!start)
        return fail(start.error());

    if (job.play)
        return PlayAloud(*start, score, job.audio, open, errors);
    if (toStandardOutput) {
        Status played =
            RenderScore(*start, score, job.rate, *frames, [&output](std::string_view bytes) {
                return output.write(bytes.data(), bytes.size()) ? Status() : Error{"stream failed"};
            });
        // A failed stream ends the playing too, and is reported as the stream.
        if (!output.flush())
            return fail(Error{std::string(kProgram) + "cannot write to standard output"});
        if (!played)
            return fail(Error{std::string(kProgram) + played.error().message});
    } else if (Status rendered = RenderToFile(*start, score, job.rate, *frames, job.output);
               !rendered) {
        return fail(rendered.error());
    }
    return kExitSuccess;
}

} // namespace morvane
