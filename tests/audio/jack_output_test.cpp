#include "audio/jack_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace morvane;
using namespace std::chrono_literals;

extern char** environ;

namespace {

// Starts a program with its output thrown away; its pid, or minus the error number.
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
    int err = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return err == 0 ? pid : -err;
}

int ExitCode(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A JACK server of the test's own on the dummy backend: no sound card needed, and the
// user's server, if any, is never touched. This process's clients find it through
// JACK_DEFAULT_SERVER.
class DummyJackServer {
public:
    DummyJackServer(int rate, int period)
        : name_("morvane-test-" + std::to_string(getpid()) + "-" + std::to_string(rate)) {
        setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
        pid_ = Spawn({"jackd", "--no-realtime", "-n", name_, "-d", "dummy", "-r",
                      std::to_string(rate), "-p", std::to_string(period)});
        if (pid_ > 0)
            answers_ = ExitCode(Spawn({"jack_wait", "-s", name_, "-w", "-t", "10"})) == 0;
    }
    ~DummyJackServer() { Stop(); }

    bool Installed() const { return pid_ != -ENOENT; }
    bool Answers() const { return answers_; }
    void Stop() {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGTERM);
        ExitCode(pid_);
        pid_ = 0;
    }

private:
    std::string name_;
    pid_t pid_ = 0;
    bool answers_ = false;
};

#define START_JACK_SERVER(server, rate, period)                                                    \
    DummyJackServer server(rate, period);                                                          \
    if (!server.Installed())                                                                       \
        GTEST_SKIP() << "jackd is not installed (Debian package jackd2)";                          \
    ASSERT_TRUE(server.Answers()) << "the dummy JACK server did not answer within 10 s"

// 1, 2, ... 32767, 1, 2, ... in int16 steps: never silent, so a gap shows.
float RampValue(unsigned n) {
    return static_cast<float>(n % 32767 + 1) / 32768.0f;
}

class Ramp : public SampleSource {
public:
    void Render(float* out, int frames, PeriodMidi&) noexcept override {
        for (int i = 0; i < frames; ++i)
            out[i] = RampValue(next_++);
    }

private:
    unsigned next_ = 0;
};

// A second client in this process that records one port into memory from its own
// process callback, from the first sound on: the port is silent until connected.
class Recorder {
public:
    explicit Recorder(int frames) : take_(frames) {
        client_ = jack_client_open("recorder", JackNoStartServer, nullptr);
        if (!client_)
            return;
        port_ = jack_port_register(client_, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client_, Process, this);
        jack_activate(client_);
    }
    ~Recorder() {
        if (client_)
            jack_client_close(client_);
    }

    jack_client_t* Client() const { return client_; }
    bool Record(const std::string& source) {
        return port_ && jack_connect(client_, source.c_str(), jack_port_name(port_)) == 0;
    }
    // The take, once full; empty after the timeout.
    std::vector<float> Take(std::chrono::milliseconds timeout) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (filled_.load(std::memory_order_acquire) < take_.size())
            if (std::chrono::steady_clock::now() > deadline)
                return {};
            else
                std::this_thread::sleep_for(10ms);
        return take_;
    }

private:
    static int Process(jack_nframes_t frames, void* self) {
        auto& recorder = *static_cast<Recorder*>(self);
        auto* in = static_cast<const float*>(jack_port_get_buffer(recorder.port_, frames));
        const float* end = in + frames;
        std::size_t filled = recorder.filled_.load(std::memory_order_relaxed);
        if (filled == 0)
            in = std::find_if(in, end, [](float s) { return s != 0.0f; });
        std::size_t n = std::min<std::size_t>(end - in, recorder.take_.size() - filled);
        std::copy_n(in, n, recorder.take_.begin() + filled);
        recorder.filled_.store(filled + n, std::memory_order_release);
        return 0;
    }

    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    std::vector<float> take_;
    std::atomic<std::size_t> filled_{0};
};

std::vector<std::string> Connections(jack_client_t* client, const std::string& port) {
    std::vector<std::string> names;
    if (const char** ports =
            jack_port_get_all_connections(client, jack_port_by_name(client, port.c_str()))) {
        for (int i = 0; ports[i]; ++i)
            names.push_back(ports[i]);
        jack_free(ports);
    }
    return names;
}

struct ServerCase {
    int rate;
    int period;
    bool connect;
};

// Names the case in test listings.
void PrintTo(const ServerCase& c, std::ostream* os) {
    *os << c.rate << "Hz" << (c.connect ? "" : "-unconnected");
}

class JackOutputOnServer : public testing::TestWithParam<ServerCase> {};

} // namespace

TEST_P(JackOutputOnServer, PlaysTheSourceUnchangedAtTheServersRate) {
    const ServerCase c = GetParam();
    START_JACK_SERVER(server, c.rate, c.period);
    Ramp ramp;
    auto output = JackOutput::Open(ramp, c.connect);
    ASSERT_TRUE(output.ok()) << output.error().message;
    EXPECT_EQ((*output)->ClientName(), "Morvane");
    EXPECT_EQ((*output)->PortName(), "Morvane:out");
    EXPECT_EQ((*output)->SampleRate(), c.rate);
    EXPECT_EQ((*output)->BufferSize(), c.period);
    Ramp other;
    auto second = JackOutput::Open(other, false);
    ASSERT_TRUE(second.ok()) << second.error().message;
    EXPECT_EQ((*second)->ClientName(), "Morvane-01");

    const int takeFrames = 20 * c.period;
    Recorder recorder(takeFrames);
    ASSERT_NE(recorder.Client(), nullptr);
    auto expected = c.connect ? std::vector<std::string>{"system:playback_1", "system:playback_2"}
                              : std::vector<std::string>{};
    EXPECT_EQ(Connections(recorder.Client(), "Morvane:out"), expected);

    ASSERT_TRUE(recorder.Record("Morvane:out"));
    auto take = recorder.Take(10s);
    ASSERT_EQ(take.size(), static_cast<std::size_t>(takeFrames)) << "the recording never filled";
    // Every ramp step, unchanged and in order, with no gap.
    unsigned step = static_cast<unsigned>(take[0] * 32768.0f) - 1;
    for (int i = 0; i < takeFrames; ++i, ++step)
        ASSERT_EQ(take[i], RampValue(step)) << "frame " << i;
}

INSTANTIATE_TEST_SUITE_P(Servers, JackOutputOnServer,
                         testing::Values(ServerCase{22050, 441, true},
                                         ServerCase{48000, 1024, false}),
                         [](const auto& info) { return std::to_string(info.param.rate); });

TEST(JackOutput, SaysWhyItCannotOpenAndWhenTheServerGoesAway) {
    setenv("JACK_DEFAULT_SERVER", ("morvane-test-absent-" + std::to_string(getpid())).c_str(), 1);
    Ramp ramp;
    auto absent = JackOutput::Open(ramp, true);
    ASSERT_FALSE(absent.ok());
    EXPECT_EQ(absent.error().message, "cannot open the JACK client: no JACK server answers");

    START_JACK_SERVER(server, 22050, 441);
    auto output = JackOutput::Open(ramp, true);
    ASSERT_TRUE(output.ok()) << output.error().message;
    EXPECT_FALSE((*output)->ServerLoss());
    server.Stop();
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!(*output)->ServerLoss() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    auto loss = (*output)->ServerLoss();
    ASSERT_TRUE(loss) << "the server's end was never reported";
    EXPECT_EQ(loss->message.rfind("the JACK server let the client go: ", 0), 0u) << loss->message;
}
