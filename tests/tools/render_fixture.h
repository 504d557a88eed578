#pragma once

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tools/command_line.h"
#include "tools/render_job.h"
#include "tools/score.h"

// A scratch directory per test and a way to run morvane-render on it in-process, so a
// test reads as the command line it checks.
namespace morvane::render_fixture {

// The chord of the renderer's documentation: held a second, released, with echo.
inline constexpr const char* kChordScore = "param ECHO_DEPTH 60\n"
                                           "param ECHO_TIME 150\n"
                                           "on 4      # C\n"
                                           "on 8      # E\n"
                                           "on 11     # G\n"
                                           "render 50\n"
                                           "off 4\n"
                                           "off 8\n"
                                           "off 11\n"
                                           "render 100\n";

class ScratchDirectory {
public:
    ScratchDirectory() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "morvane-render-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_))
            names.push_back(entry.path().filename().string());
        std::ranges::sort(names);
        return names;
    }

private:
    std::filesystem::path path_;
};

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// What one run of the program left on its standard streams.
struct ToolRun {
    int status = -1;
    std::string output;
    std::string errors;
};

// The score of a text known to be right.
inline score::Score ScoreOf(const std::string& text) {
    std::istringstream in(text);
    return *score::ReadScore(in, "score");
}

// Runs the command line with the text as standard input; --play plays on what open opens.
inline ToolRun RenderTool(const std::vector<std::string>& arguments, const std::string& input = {},
                          const OutputOpener& open = OutputOpener()) {
    std::vector<std::string_view> views(arguments.begin(), arguments.end());
    Result<CommandLine> commandLine = ParseCommandLine(views);
    const auto* job = commandLine ? std::get_if<RenderJob>(&*commandLine) : nullptr;
    if (!job)
        return ToolRun{kExitFailure, {}, "not a render job"};
    std::istringstream in(input);
    std::ostringstream out, err;
    ToolRun run;
    run.status = RunRenderJob(*job, in, out, err, open);
    run.output = out.str();
    run.errors = err.str();
    return run;
}

} // namespace morvane::render_fixture
