#include "tools/render_job.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <ostream>

#include "audio/wav_recorder.h"
#include "tools/offline_renderer.h"
#include "tools/pending_file.h"
#include "tools/score.h"
#include "tools/score_player.h"

namespace morvane {

namespace {

constexpr std::string_view kStandardStream = "-";
constexpr std::string_view kProgram = "morvane-render: ";

bool NamesWavFile(std::string_view path) {
    constexpr std::string_view kWav = ".wav";
    if (path.size() < kWav.size())
        return false;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    return std::ranges::equal(path.substr(path.size() - kWav.size()), kWav,
                              [&](char a, char b) { return lower(a) == b; });
}

// The RIFF size field is 32 bits wide: it must hold the header's 38 bytes after it and
// every block.
bool FitsInWav(std::uint64_t blocks) {
    constexpr std::uint64_t kLargestRiffSize = std::numeric_limits<std::uint32_t>::max();
    constexpr std::uint64_t kRiffSizeWithoutSamples = kWavHeaderBytes - 8;
    return blocks <= (kLargestRiffSize - kRiffSizeWithoutSamples) / kBlockBytes;
}

std::variant<score::Score, std::string> ReadScoreOf(const RenderJob& job, std::istream& input) {
    std::ifstream file;
    std::istream* in = &input;
    std::string name = "<stdin>";
    if (job.score != kStandardStream) {
        name = job.score;
        errno = 0;
        file.open(job.score, std::ios::binary);
        if (!file)
            return std::string(kProgram) + "cannot open score '" + job.score +
                   "': " + std::strerror(errno);
        in = &file;
    }
    std::variant<score::Score, score::ScoreError> read = score::ReadScore(*in);
    if (auto* error = std::get_if<score::ScoreError>(&read)) {
        if (error->line == 0)
            return name + ": " + error->message;
        return name + ":" + std::to_string(error->line) + ": " + error->message;
    }
    return std::get<score::Score>(std::move(read));
}

std::optional<std::string> StartUp(OfflineRenderer& renderer, const RenderJob& job) {
    if (!job.settingsFile) {
        renderer.StartFresh();
        return std::nullopt;
    }
    // The program takes a missing settings file for a fresh installation; a file named
    // on the command line and not found is more likely a typing error.
    std::error_code ignored;
    if (!std::filesystem::exists(*job.settingsFile, ignored))
        return std::string(kProgram) + "settings file '" + *job.settingsFile + "' not found";
    if (std::optional<FileError> error = renderer.StartWith(*job.settingsFile, job.presetSlot))
        return std::string(kProgram) + error->message;
    return std::nullopt;
}

std::optional<std::string> RenderToFile(OfflineRenderer& renderer, const score::Score& score,
                                        const std::string& path) {
    PendingFile file;
    if (std::optional<std::string> error = file.Open(path))
        return std::string(kProgram) + *error;
    if (NamesWavFile(path)) {
        auto header = WavHeader(static_cast<std::uint32_t>(score.blocks * kBlockBytes));
        file.Stream().write(reinterpret_cast<const char*>(header.data()), header.size());
    }
    ScorePlayer(renderer, score).PlayTo(file.Stream());
    if (std::optional<std::string> error = file.Commit())
        return std::string(kProgram) + *error;
    return std::nullopt;
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
    auto fail = [&](const std::string& message) {
        errors << message << '\n';
        return kExitFailure;
    };
    std::variant<score::Score, std::string> read = ReadScoreOf(job, input);
    if (auto* error = std::get_if<std::string>(&read))
        return fail(*error);
    const score::Score& score = std::get<score::Score>(read);

    bool toStandardOutput = job.output == kStandardStream;
    if (!job.play && !toStandardOutput && NamesWavFile(job.output) && !FitsInWav(score.blocks))
        return fail(std::string(kProgram) + "the score's " + std::to_string(score.blocks) +
                    " blocks are too long for a WAV file");

    OfflineRenderer renderer;
    if (std::optional<std::string> error = StartUp(renderer, job))
        return fail(*error);

    if (job.play)
        return PlayAloud(renderer, score, player, errors);
    if (toStandardOutput) {
        ScorePlayer(renderer, score).PlayTo(output);
        if (!output.flush())
            return fail(std::string(kProgram) + "cannot write to standard output");
    } else if (std::optional<std::string> error = RenderToFile(renderer, score, job.output)) {
        return fail(*error);
    }
    return kExitSuccess;
}

} // namespace morvane
