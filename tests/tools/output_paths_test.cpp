#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "render_fixture.h"

// The built morvane-render run as a user runs it, on the output paths that need the real
// process: devices, links, permissions, signals and the file-size limit.
using namespace morvane::render_fixture;
namespace fs = std::filesystem;

namespace {

constexpr const char* kShortScore = "on 4\nrender 10\n";
constexpr std::size_t kShortScoreBytes = 10 * 882;
// Long enough that a signal always finds the program still writing.
constexpr const char* kEndlessScore = "on 4\nrender 2000000000\n";

struct ProgramRun {
    int status = -1; // the exit status, or -1 when a signal ended the program
    int signal = 0;
    std::string output; // what reached standard output (a pipe)
    std::string errors;
};

// How the run goes: to its end, ended by a signal once its temporary file exists, or
// under a file-size limit; the score named or on standard input.
struct Circumstances {
    int signal = 0;
    rlim_t sizeLimit = RLIM_INFINITY;
    bool scoreOnStandardInput = false;
};

bool HoldsTemporaryFile(const ScratchDirectory& dir) {
    for (const std::string& name : dir.Names())
        if (name.starts_with("."))
            return true;
    return false;
}

ProgramRun RenderProgram(const ScratchDirectory& dir, const std::string& score,
                         const std::string& out, Circumstances circumstances) {
    int output[2], errors[2];
    if (::pipe(output) != 0 || ::pipe(errors) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit limit{circumstances.sizeLimit, circumstances.sizeLimit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const rlimit noCore{0, 0}; // SIGQUIT would leave a core file behind
        ::setrlimit(RLIMIT_CORE, &noCore);
        ::dup2(output[1], STDOUT_FILENO);
        ::dup2(errors[1], STDERR_FILENO);
        const char* scoreArgument = score.c_str();
        if (circumstances.scoreOnStandardInput) {
            ::dup2(::open(score.c_str(), O_RDONLY), STDIN_FILENO);
            scoreArgument = "-";
        }
        ::execl(MORVANE_RENDER, MORVANE_RENDER, scoreArgument, out.c_str(), nullptr);
        ::_exit(127);
    }
    ::close(output[1]);
    ::close(errors[1]);
    if (circumstances.signal != 0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!HoldsTemporaryFile(dir) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ::kill(child, circumstances.signal);
    }
    ProgramRun run;
    auto drain = [](int fd, std::string& into) {
        char buffer[65536];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
            into.append(buffer, static_cast<std::size_t>(n));
        ::close(fd);
    };
    std::thread errorReader(drain, errors[0], std::ref(run.errors));
    drain(output[0], run.output);
    errorReader.join();
    int status = 0;
    ::waitpid(child, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return run;
}

mode_t ModeOf(const std::string& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return status.st_mode;
}

} // namespace

TEST(OutputPaths, TheProgramWritesWhereOutLeadsAndLeavesNothingHalfDone) {
    struct Case {
        const char* name;
        // Prepares the directory and gives OUT.
        std::function<std::string(const ScratchDirectory&)> prepare;
        Circumstances circumstances;
        int status;
        int signal;
        std::function<void(const ScratchDirectory&, const ProgramRun&)> check;
    };
    const std::vector<Case> cases = {
        {"character device",
         [](const ScratchDirectory& dir) {
             // The null device made afresh, so that a faulty run replaces only this one.
             ::mknod((dir / "null").c_str(), S_IFCHR | 0666, ::makedev(1, 3));
             return dir / "null";
         },
         {},
         0,
         0,
         [](const ScratchDirectory& dir, const ProgramRun&) {
             EXPECT_TRUE(S_ISCHR(ModeOf(dir / "null")));
         }},
        {"standard output through a link, a pipe",
         [](const ScratchDirectory& dir) {
             fs::create_symlink("/proc/self/fd/1", dir / "stdout");
             return dir / "stdout";
         },
         {},
         0,
         0,
         [](const ScratchDirectory& dir, const ProgramRun& run) {
             EXPECT_EQ(run.output.size(), kShortScoreBytes);
             EXPECT_TRUE(fs::is_symlink(dir / "stdout"));
         }},
        {"symbolic link to a file yet to be",
         [](const ScratchDirectory& dir) {
             fs::create_symlink("take.wav", dir / "link.wav");
             return dir / "link.wav";
         },
         {},
         0,
         0,
         [](const ScratchDirectory& dir, const ProgramRun&) {
             EXPECT_TRUE(fs::is_symlink(dir / "link.wav"));
             EXPECT_EQ(ReadBytes(dir / "take.wav").size(), 46 + kShortScoreBytes);
         }},
        {"private file",
         [](const ScratchDirectory& dir) {
             WriteBytes(dir / "private.raw", "older");
             ::chmod((dir / "private.raw").c_str(), 0600);
             return dir / "private.raw";
         },
         {},
         0,
         0,
         [](const ScratchDirectory& dir, const ProgramRun&) {
             EXPECT_EQ(ModeOf(dir / "private.raw") & 07777, 0600u);
             EXPECT_EQ(ReadBytes(dir / "private.raw").size(), kShortScoreBytes);
         }},
        {"the score itself",
         [](const ScratchDirectory& dir) { return dir / "score"; },
         {},
         2,
         0,
         nullptr},
        {"the score through a link",
         [](const ScratchDirectory& dir) {
             fs::create_symlink("score", dir / "link.raw");
             return dir / "link.raw";
         },
         {},
         2,
         0,
         nullptr},
        {"the score by another name",
         [](const ScratchDirectory& dir) {
             fs::create_hard_link(dir / "score", dir / "hard.raw");
             return dir / "hard.raw";
         },
         {},
         2,
         0,
         nullptr},
        {"SIGTERM",
         [](const ScratchDirectory& dir) { return dir / "take.raw"; },
         {SIGTERM},
         -1,
         SIGTERM,
         nullptr},
        {"SIGINT",
         [](const ScratchDirectory& dir) { return dir / "take.raw"; },
         {SIGINT},
         -1,
         SIGINT,
         nullptr},
        {"file-size limit",
         [](const ScratchDirectory& dir) { return dir / "take.raw"; },
         {0, 4096},
         2,
         0,
         [](const ScratchDirectory&, const ProgramRun& run) {
             EXPECT_NE(run.errors.find("File too large"), std::string::npos) << run.errors;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.name) == "character device" && ::geteuid() != 0)
            continue; // only the superuser makes device nodes
        ScratchDirectory dir;
        const bool endless =
            c.circumstances.signal != 0 || c.circumstances.sizeLimit != RLIM_INFINITY;
        const std::string score = endless ? kEndlessScore : kShortScore;
        WriteBytes(dir / "score", score);
        const std::string out = c.prepare(dir);
        const std::vector<std::string> prepared = dir.Names();

        const ProgramRun run = RenderProgram(dir, dir / "score", out, c.circumstances);
        EXPECT_EQ(run.status, c.status) << run.errors;
        EXPECT_EQ(run.signal, c.signal);
        EXPECT_TRUE(ReadBytes(dir / "score") == score) << "the score was overwritten";
        if (run.status != 0) {
            EXPECT_EQ(dir.Names(), prepared) << "a failed run leaves the directory as it was";
        }
        EXPECT_FALSE(HoldsTemporaryFile(dir));
        if (c.check)
            c.check(dir, run);
    }
}

// Whatever signal ends a render, of those that end a program unless it handles them, the
// temporary file goes with it, and the program still ends by that signal.
TEST(OutputPaths, EverySignalThatEndsTheProgramTakesTheTemporaryFileAlong) {
    for (const int signal : {SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU, SIGPIPE, SIGVTALRM,
                             SIGPROF, SIGIO, SIGPWR, SIGRTMIN, SIGRTMAX}) {
        SCOPED_TRACE(strsignal(signal));
        ScratchDirectory dir;
        WriteBytes(dir / "score", kEndlessScore);
        const ProgramRun run = RenderProgram(dir, dir / "score", dir / "take.raw", {signal});
        EXPECT_EQ(run.signal, signal) << run.errors;
        EXPECT_EQ(dir.Names(), std::vector<std::string>{"score"});
    }
}
