#include "audio/pipewire_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace morvane;
using namespace std::chrono_literals;

extern char** environ;

namespace {

pid_t Spawn(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = 0;
    const int err = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return err == 0 ? pid : -err;
}

void End(pid_t& pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = 0;
}

template <typename Ready> bool WaitFor(Ready ready, std::chrono::milliseconds limit = 10s) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// A PipeWire desktop of the test's own: a session bus, the server with its clock fixed
// at the rate and a null sink as its one device, and the session manager that joins a
// new stream to that sink. This process's clients find it through the environment.
class PrivatePipeWire {
public:
    explicit PrivatePipeWire(int rate)
        : directory_(std::filesystem::temp_directory_path() /
                     ("morvane-pw-test-" + std::to_string(getpid()) + "-" + std::to_string(rate))) {
        std::filesystem::remove_all(directory_);
        const auto config = directory_ / "config" / "pipewire" / "pipewire.conf.d";
        std::filesystem::create_directories(config);
        std::filesystem::permissions(directory_, std::filesystem::perms::owner_all);
        std::ofstream(config / "test.conf")
            << "context.properties = {\n"
            << "    clock.power-of-two-quantum = false\n"
            << "    default.clock.rate = " << rate << "\n"
            << "    default.clock.allowed-rates = [ " << rate << " ]\n"
            << "    default.clock.quantum = " << rate / 50 << "\n"
            << "    default.clock.min-quantum = " << rate / 50 << "\n"
            << "    default.clock.max-quantum = " << rate / 50 << "\n"
            << "}\n"
            << "context.objects = [ { factory = adapter args = {\n"
            << "    factory.name = support.null-audio-sink node.name = test-sink\n"
            << "    media.class = Audio/Sink audio.position = [ MONO ] node.driver = true\n"
            << "    object.linger = true } } ]\n";
        const std::string bus = "unix:path=" + (directory_ / "bus").string();
        setenv("XDG_RUNTIME_DIR", directory_.c_str(), 1);
        setenv("PIPEWIRE_RUNTIME_DIR", directory_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (directory_ / "config").c_str(), 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
        bus_ = Spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + bus});
        installed_ =
            bus_ > 0 && WaitFor([&] { return std::filesystem::exists(directory_ / "bus"); });
        if (installed_)
            StartServer();
    }
    ~PrivatePipeWire() {
        KillServer();
        End(bus_);
        std::filesystem::remove_all(directory_);
    }

    bool Installed() const { return installed_ && server_ > 0 && manager_ > 0; }

    void StartServer() {
        server_ = Spawn({"pipewire"});
        WaitFor([&] { return std::filesystem::exists(directory_ / "pipewire-0"); });
        manager_ = Spawn({"wireplumber"});
    }
    void KillServer() {
        End(manager_);
        End(server_);
    }

private:
    std::filesystem::path directory_;
    pid_t bus_ = 0;
    pid_t server_ = 0;
    pid_t manager_ = 0;
    bool installed_ = false;
};

class Counter : public SampleSource {
public:
    void Render(float* out, int frames, PeriodMidi&) noexcept override {
        for (int i = 0; i < frames; ++i)
            out[i] = 0.25f;
        frames_.fetch_add(frames, std::memory_order_relaxed);
    }
    long Frames() const { return frames_.load(); }

private:
    std::atomic<long> frames_{0};
};

// At the graph's rate and quantum, from the server's settings; a second of sound in about
// a second; and a server that dies is told, once the stream has played.
TEST(PipeWireOutputOnServer, PlaysAtTheGraphsRateAndTellsOfTheServersEnd) {
    for (const int rate : {22050, 48000}) {
        SCOPED_TRACE(rate);
        PrivatePipeWire server(rate);
        if (!server.Installed())
            GTEST_SKIP() << "pipewire, wireplumber or dbus-daemon is not installed";
        Counter source;
        std::unique_ptr<PipeWireOutput> output;
        // Until the session manager has its sink, a stream finds no node to play to and
        // is told so: it is opened again, as the program does.
        ASSERT_TRUE(WaitFor([&] {
            output.reset();
            auto opened = PipeWireOutput::Open(source, true, 0.02);
            if (!opened)
                return false;
            output = std::move(*opened);
            const long before = source.Frames();
            WaitFor([&] { return source.Frames() > before || output->ServerLoss(); }, 2s);
            return source.Frames() > before && !output->ServerLoss();
        }));
        EXPECT_EQ(output->SampleRate(), rate);
        ASSERT_TRUE(WaitFor([&] { return source.Frames() >= rate; }))
            << "no second of sound; " << source.Frames() << " frames";
        EXPECT_EQ(output->Quantum(), rate / 50);
        EXPECT_GE(output->LatencyFrames(), rate / 50);
        EXPECT_GT(output->DataThread(), 0);
        ASSERT_FALSE(output->ServerLoss()) << output->ServerLoss()->message;
        // A larger quantum asked while it plays: the server's bounds keep this one.
        EXPECT_TRUE(output->AskQuantum(0.04));
        const long before = source.Frames();
        ASSERT_TRUE(WaitFor([&] { return source.Frames() >= before + rate / 2; }));
        EXPECT_EQ(output->Quantum(), rate / 50);

        server.KillServer();
        ASSERT_TRUE(WaitFor([&] { return output->ServerLoss().has_value(); }, 5s));
        EXPECT_FALSE(output->ServerLoss()->message.empty());
    }
}

TEST(PipeWireOutputOnServer, NoServerIsAClearError) {
    setenv("PIPEWIRE_RUNTIME_DIR", "/nonexistent-morvane-test", 1);
    Counter source;
    auto opened = PipeWireOutput::Open(source, true, 0.02);
    ASSERT_FALSE(opened);
    EXPECT_NE(opened.error().message.find("no PipeWire server answers"), std::string::npos)
        << opened.error().message;
}

} // namespace
