#include "tools/render_job.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <ostream>

#include "audio/wav_recorder.h"
#include "base/ascii.h"
#include "tools/offline_renderer.h"
#include "tools/output_file.h"
#include "tools/score.h"
#include "tools/score_player.h"

namespace morvane {

namespace {

constexpr std::string_view kStandardStream = "-";
constexpr std::string_view kProgram = "morvane-render: ";
constexpr const char* kStandardInputFile = "/dev/stdin";

bool NamesWavFile(std::string_view path) {
    return EndsWithIgnoringAsciiCase(path, ".wav");
}

// The RIFF size field is 32 bits wide: it must hold the header's 38 bytes after it and
// every block.
bool FitsInWav(std::uint64_t blocks) {
    constexpr std::uint64_t kLargestRiffSize = std::numeric_limits<std::uint32_t>::max();
    constexpr std::uint64_t kRiffSizeWithoutSamples = kWavHeaderBytes - 8;
    return blocks <= (kLargestRiffSize - kRiffSizeWithoutSamples) / kBlockBytes;
}

Result<score::Score> ReadScoreOf(const RenderJob& job, std::istream& input) {
    if (job.score == kStandardStream)
        return score::ReadScore(input, "<stdin>");
    errno = 0;
    std::ifstream file(job.score, std::ios::binary);
    if (!file)
        return Error{std::string(kProgram) + "cannot open score '" + job.score +
                     "': " + std::strerror(errno)};
    return score::ReadScore(file, job.score);
}

Status StartUp(OfflineRenderer& renderer, const RenderJob& job) {
    if (!job.settingsFile) {
        renderer.StartFresh();
        return {};
    }
    // The program takes a missing settings file for a fresh installation; a file named
    // on the command line and not found is more likely a typing error.
    std::error_code ignored;
    if (!std::filesystem::exists(*job.settingsFile, ignored))
        return Error{std::string(kProgram) + "settings file '" + *job.settingsFile + "' not found"};
    if (Status started = renderer.StartWith(*job.settingsFile, job.presetSlot); !started)
        return Error{std::string(kProgram) + started.error().message};
    return {};
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

Status RenderToFile(OfflineRenderer& renderer, const score::Score& score, const std::string& path) {
    auto failed = [](const Error& error) { return Error{std::string(kProgram) + error.message}; };
    Result<OutputFile> file = OutputFile::Open(path);
    if (!file)
        return failed(file.error());
    if (NamesWavFile(path)) {
        auto header = WavHeader(static_cast<std::uint32_t>(score.blocks * kBlockBytes));
        Status written = file->Write({reinterpret_cast<const char*>(header.data()), header.size()});
        if (!written)
            return failed(written.error());
    }
    Status played = ScorePlayer(renderer, score).PlayTo([&](std::string_view bytes) {
        return file->Write(bytes);
    });
    if (!played)
        return failed(played.error());
    if (Status committed = file->Commit(); !committed)
        return failed(committed.error());
    return {};
}

int PlayAloud(OfflineRenderer& renderer, const score::Score& score,
              const RealTimePlayer& realTimePlayer, std::ostream& errors) {
    ScorePlayer player(renderer, score);
    PlayOutcome outcome =
        realTimePlayer([&](std::int16_t* block) { return player.NextBlock(block); });
    for (const std::string& error : outcome.errors)
        errors << kProgram << error << '\n';
    if (!outcome.Played())
        return kExitDeviceFailure;
    // Every sample went out, but not in one piece: worth knowing when comparing a
    // recording of it with the rendered file.
    if (outcome.underruns > 0)
        errors << kProgram << "the sound had " << outcome.underruns
               << " gap(s): the computer did not keep up\n";
    return kExitSuccess;
}

} // namespace

int RunRenderJob(const RenderJob& job, std::istream& input, std::ostream& output,
                 std::ostream& errors, const RealTimePlayer& player) {
    auto fail = [&](const Error& error) {
        errors << error.message << '\n';
        return kExitFailure;
    };
    Result<score::Score> read = ReadScoreOf(job, input);
    if (!read)
        return fail(read.error());
    const score::Score& score = *read;

    bool toStandardOutput = job.output == kStandardStream;
    if (!job.play && !toStandardOutput) {
        if (Status separate = CheckOutputIsNotTheScore(job); !separate)
            return fail(separate.error());
        if (NamesWavFile(job.output) && !FitsInWav(score.blocks))
            return fail(Error{std::string(kProgram) + "the score's " +
                              std::to_string(score.blocks) +
                              " blocks are too long for a WAV file"});
    }

    OfflineRenderer renderer;
    if (Status started = StartUp(renderer, job); !started)
        return fail(started.error());

    if (job.play)
        return PlayAloud(renderer, score, player, errors);
    if (toStandardOutput) {
        ScorePlayer(renderer, score).PlayTo(output);
        if (!output.flush())
            return fail(Error{std::string(kProgram) + "cannot write to standard output"});
    } else if (Status rendered = RenderToFile(renderer, score, job.output); !rendered) {
        return fail(rendered.error());
    }
    return kExitSuccess;
}

} // namespace morvane
