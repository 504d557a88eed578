#include "tools/render_job.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>

#include "tools/offline_renderer.h"
#include "tools/pending_file.h"
#include "tools/score.h"
#include "tools/wav_header.h"

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
        WavHeader header = MakeWavHeader(score.blocks);
        file.Stream().write(reinterpret_cast<const char*>(header.data()), header.size());
    }
    renderer.Play(score, file.Stream());
    if (std::optional<std::string> error = file.Commit())
        return std::string(kProgram) + *error;
    return std::nullopt;
}

} // namespace

int RunRenderJob(const RenderJob& job, std::istream& input, std::ostream& output,
                 std::ostream& errors) {
    auto fail = [&](const std::string& message) {
        errors << message << '\n';
        return kExitFailure;
    };
    std::variant<score::Score, std::string> read = ReadScoreOf(job, input);
    if (auto* error = std::get_if<std::string>(&read))
        return fail(*error);
    const score::Score& score = std::get<score::Score>(read);

    bool toStandardOutput = job.output == kStandardStream;
    if (!toStandardOutput && NamesWavFile(job.output) && !FitsInWav(score.blocks))
        return fail(std::string(kProgram) + "the score's " + std::to_string(score.blocks) +
                    " blocks are too long for a WAV file");

    OfflineRenderer renderer;
    if (std::optional<std::string> error = StartUp(renderer, job))
        return fail(*error);

    if (toStandardOutput) {
        renderer.Play(score, output);
        if (!output.flush())
            return fail(std::string(kProgram) + "cannot write to standard output");
    } else if (std::optional<std::string> error = RenderToFile(renderer, score, job.output)) {
        return fail(*error);
    }
    return kExitSuccess;
}

} // namespace morvane
