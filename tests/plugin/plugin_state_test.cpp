// The plugin's panel messages and its saved state, in a host: learn and forget through the
// control port, what the notify port tells, and bindings kept with a session.

#include <dlfcn.h>

#include <ctime>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "engine/parameters.h"
#include "midi/midi_mapping.h"
#include "plugin/ports.h"
#include "plugin/ui_protocol.h"
#include "tests/plugin/lv2_host.h"

namespace {

// Every allocation and every reading of a clock (a system call where the kernel offers no
// fast clock) of the thread while they are counted, the plugin's included: a host's run()
// must make neither.
thread_local bool counting = false;
thread_local long allocations = 0;
thread_local long clockReads = 0;

} // namespace

extern "C" int clock_gettime(clockid_t clock, timespec* time) noexcept {
    using ClockGetTime = int (*)(clockid_t, timespec*);
    static const auto next = reinterpret_cast<ClockGetTime>(dlsym(RTLD_NEXT, "clock_gettime"));
    if (counting)
        ++clockReads;
    return next(clock, time);
}

void* operator new(std::size_t size) {
    if (counting)
        ++allocations;
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

namespace {

namespace ui = morvane::lv2::ui;
using Message = Lv2Host::Message;

// One engine block a run: what the panel sends and a message at the run's first frame act
// in that run, and what they did is told at its end.
constexpr double kRate = 22050;
constexpr int kFrames = 441;

std::unique_ptr<Lv2Host> LoadPlugin() {
    std::string error;
    std::unique_ptr<Lv2Host> host =
        Lv2Host::Load(MORVANE_LV2_BUNDLE, morvane::lv2::kPluginUri, kRate, error);
    EXPECT_TRUE(host) << error;
    return host;
}

Message Learn(int slider) {
    return {ui::kLearn, {{ui::kSlider, slider}}, {}};
}
Message Forget(int controller) {
    return {ui::kForget, {{ui::kController, controller}}, {}};
}
Message Armed(int slider) {
    return {ui::kLearnArmed, {{ui::kSlider, slider}}, {}};
}
Message Learnt(int slider, int controller, int takenFrom) {
    return {ui::kLearnt,
            {{ui::kSlider, slider}, {ui::kController, controller}, {ui::kTakenFrom, takenFrom}},
            {}};
}
Message Bindings(const std::string& lines) {
    return {ui::kBindings, {}, {{ui::kText, "morvane-bindings 1\n" + lines}}};
}
Message Keys(std::int64_t sounding) {
    return {ui::kKeys, {{ui::kSounding, sounding}}, {}};
}

struct Step {
    std::vector<Message> sent;
    std::vector<Lv2Host::Midi> midi;
    std::vector<Message> notified;
};

// A panel arms learn, cancels it and forgets controllers; the controllers that move next
// are learnt. Ends with the learner's bindings differing from the defaults in every way
// the state keeps: learnt, taken from a default, removed, and aftertouch.
const std::vector<Step>& Learning() {
    static const std::vector<Step> steps = {
        {{{ui::kDescribe, {}, {}}}, {}, {Bindings(""), Keys(0)}},
        {{Learn(morvane::ModOn)}, {}, {Armed(-1)}}, // a check box follows no controller
        {{Learn(morvane::VcfCutoff)}, {}, {Armed(morvane::VcfCutoff)}},
        {{{ui::kCancelLearn, {}, {}}}, {}, {Armed(-1)}},
        {{}, {{0, {0xB0, 20, 64}}}, {}},
        {{Learn(morvane::VcfCutoff)}, {}, {Armed(morvane::VcfCutoff)}},
        {{},
         {{0, {0xB0, 20, 64}}},
         {Learnt(morvane::VcfCutoff, 20, -1), Bindings("CC20=VCF_CUTOFF\nCC74=\n")}},
        {{Learn(morvane::VcfResonance)}, {}, {Armed(morvane::VcfResonance)}},
        {{},
         {{0, {0xD0, 50}}},
         {Learnt(morvane::VcfResonance, 128, -1),
          Bindings("CC20=VCF_CUTOFF\nCC71=\nCC74=\nAT=VCF_RESONANCE\n")}},
        {{Learn(morvane::EnvSustain)}, {}, {Armed(morvane::EnvSustain)}},
        {{},
         {{0, {0xB0, 73, 90}}},
         {Learnt(morvane::EnvSustain, 73, morvane::EnvAttack),
          Bindings("CC20=VCF_CUTOFF\nCC71=\nCC73=ENV_SUSTAIN\nCC74=\nAT=VCF_RESONANCE\n")}},
        {{Forget(75)},
         {},
         {Bindings("CC20=VCF_CUTOFF\nCC71=\nCC73=ENV_SUSTAIN\nCC74=\nCC75=\nAT=VCF_RESONANCE\n")}},
        {{Forget(21), Forget(129)}, {}, {}}, // nothing bound there, nothing there
        {{}, {{0, {0x90, 60, 100}}}, {Keys(std::int64_t{1} << morvane::KeyForNote(60))}},
    };
    return steps;
}

// Runs the host's block, counting what the run allocates and how often it reads a clock.
std::pair<long, long> AllocationsAndClockReads(Lv2Host& host, std::span<const Lv2Host::Midi> midi,
                                               std::span<float> out) {
    allocations = 0;
    clockReads = 0;
    counting = true;
    host.Run(midi, out);
    counting = false;
    return {allocations, clockReads};
}

void Play(Lv2Host& host, const std::vector<Step>& steps) {
    std::vector<float> out(kFrames);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        for (const Message& message : steps[i].sent)
            host.Send(message);
        EXPECT_EQ(AllocationsAndClockReads(host, steps[i].midi, out), std::pair(0L, 0L))
            << "step " << i;
        EXPECT_EQ(host.Notified(), steps[i].notified) << "step " << i;
    }
}

// Every controller the learner's bindings touch, and the default ones, moving over a held
// chord; aftertouch too. A controller at the first frame of the first run shows that the
// bindings are in place before it.
std::vector<float> PlayControllers(Lv2Host& host) {
    std::vector<float> sound;
    std::vector<float> out(kFrames);
    for (int run = 0; run < 120; ++run) {
        std::vector<Lv2Host::Midi> midi;
        if (run == 0)
            midi = {{0, {0xB0, 20, 10}}, {0, {0x90, 60, 100}}, {0, {0x90, 67, 90}}};
        const auto value = static_cast<std::uint8_t>(run % 128);
        for (const std::uint8_t controller : {20, 71, 72, 73, 74, 75})
            midi.push_back({(controller * 3 + run) % kFrames, {0xB0, controller, value}});
        midi.push_back({200, {0xD0, static_cast<std::uint8_t>(127 - value)}});
        if (run == 90)
            midi.push_back({17, {0x80, 60, 0}});
        host.Run(midi, out);
        sound.insert(sound.end(), out.begin(), out.end());
    }
    return sound;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from << " in " << text;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

} // namespace

void PrintTo(const Lv2Host::Message& message, std::ostream* out) {
    *out << message.type << " {";
    for (const auto& [key, value] : message.numbers)
        *out << " " << key << "=" << value;
    for (const auto& [key, value] : message.texts)
        *out << " " << key << "=\"" << value << "\"";
    *out << " }";
}

TEST(PluginPanel, LearnsForgetsAndTellsThePanel) {
    std::unique_ptr<Lv2Host> host = LoadPlugin();
    ASSERT_TRUE(host);
    Play(*host, Learning());
    // The keys go dark when the note has died away, and are told once.
    std::vector<float> out(kFrames);
    std::vector<Lv2Host::Midi> off = {{0, {0x80, 60, 0}}};
    host->Run(off, out);
    std::vector<Message> told = host->Notified();
    for (int run = 0; run < 400; ++run) {
        host->Run({}, out);
        for (const Message& message : host->Notified())
            told.push_back(message);
    }
    EXPECT_EQ(told, std::vector<Message>{Keys(0)});
    host->Send({ui::kRestoreBindings, {}, {}});
    host->Run({}, out);
    EXPECT_EQ(host->Notified(), std::vector<Message>{Bindings("")});
}

// Bindings learnt in one instance and saved come back in a new one before its first run,
// and through a restart; a state the plugin cannot read gives the defaults and says why,
// and lines a later version adds are skipped.
TEST(PluginState, BindingsComeBackWithTheSession) {
    std::unique_ptr<Lv2Host> learner = LoadPlugin();
    ASSERT_TRUE(learner);
    Play(*learner, Learning());
    const std::string session = learner->SaveState();
    ASSERT_NE(session.find("morvane-bindings 1\nCC20=VCF_CUTOFF"), std::string::npos) << session;
    learner->Restart();
    const std::vector<float> learnt = PlayControllers(*learner);

    std::unique_ptr<Lv2Host> fresh = LoadPlugin();
    ASSERT_TRUE(fresh);
    const std::vector<float> defaults = PlayControllers(*fresh);
    ASSERT_NE(learnt, defaults) << "the bindings do not change the sound";

    struct Case {
        const char* name;
        std::string session;
        bool learntSound;
        const char* logged; // the start of the only line logged; none when empty
    };
    const std::vector<Case> cases = {
        {"restored", session, true, ""},
        {"a later version's lines",
         Replaced(session, "CC20=VCF_CUTOFF\n", "CC20=VCF_CUTOFF\nSCALE=7\nCC21=NO_SUCH\n"), true,
         "warning: morvane.lv2: saved binding \"SCALE=7\" skipped"},
        {"another version", Replaced(session, "morvane-bindings 1", "morvane-bindings 2"), false,
         "error: morvane.lv2: the bindings begin \"morvane-bindings 2\""},
        {"not bindings", Replaced(session, "morvane-bindings 1", "\\u0001garbage"), false,
         "error: morvane.lv2: the bindings begin \"\\x01garbage\""},
        {"no bindings in the state", Replaced(session, "<urn:morvane:bindings>", "<urn:other>"),
         false, ""},
    };
    for (const Case& c : cases) {
        std::unique_ptr<Lv2Host> host = LoadPlugin();
        ASSERT_TRUE(host);
        ASSERT_TRUE(host->RestoreState(c.session)) << c.name;
        EXPECT_TRUE(PlayControllers(*host) == (c.learntSound ? learnt : defaults)) << c.name;
        if (*c.logged) {
            ASSERT_FALSE(host->Logged().empty()) << c.name;
            EXPECT_EQ(host->Logged().front().rfind(c.logged, 0), 0u)
                << c.name << ": " << host->Logged().front();
        } else {
            EXPECT_TRUE(host->Logged().empty()) << c.name << ": " << host->Logged().front();
        }
    }
}
