// The plugin in a host, against the offline renderer: the same events give the same
// samples whatever the host's block size, at the engine's rate and resampled.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "audio/resampler.h"
#include "plugin/ports.h"
#include "plugin/ui_protocol.h"
#include "tests/audio/temporary_directory.h"
#include "tests/plugin/lv2_host.h"

namespace {

constexpr int kEngineRate = 22050;
constexpr int kBlock = 441;

struct TimedMidi {
    int frame; // at the engine's rate
    std::vector<std::uint8_t> bytes;
    bool hostOnly = false; // left out of the reference's file: the plugin must ignore it
};

// The bend wheel from its start to its end in steps of a few frames each, off the grid.
std::vector<TimedMidi> BendSweep(int from, int step, int steps, int start, int end) {
    std::vector<TimedMidi> sweep;
    for (int i = 0; i <= steps; ++i) {
        const int value = start + (end - start) * i / steps;
        sweep.push_back({from + i * step,
                         {0xE0, static_cast<std::uint8_t>(value & 0x7F),
                          static_cast<std::uint8_t>(value >> 7)}});
    }
    return sweep;
}

// Most events fall inside an engine block (off the 441-sample grid), a few on it.
std::vector<TimedMidi> Song() {
    std::vector<TimedMidi> song = {
        {0, {0x90, 69, 100}},     // A, 440 Hz, at the first sample
        {200, {0x90, 72, 64}},    // inside the first block, softer
        {333, {0x90, 30, 20}},    // below the keys: a voice at its own pitch, soft
        {1000, {0x90, 100, 127}}, // above them
        {1501, {0xB0, 74, 100}},  // cutoff, by the default binding
        {2000, {0xC0, 1}, true},  // a program change would reload the cutoff
        {2050, {0xB0, 20, 64}},   // an unbound controller: a cut, nothing else
    };
    std::ranges::copy(BendSweep(2100, 23, 20, 8192, 16383), std::back_inserter(song));
    const std::vector<TimedMidi> rest = {
        {2600, {0xB0, 101, 0}}, // RPN 0, selected at one frame in file order
        {2600, {0xB0, 100, 0}},
        {2601, {0xB0, 6, 12}},   // 12 semitones
        {2602, {0xB0, 38, 5}},   // its fine part, ignored
        {2900, {0xD0, 90}},      // aftertouch, bound to the filter's intensity
        {3000, {0xB0, 64, 127}}, // pedal down
        {3100, {0x80, 69, 0}},   // held back
        {3500, {0x80, 30, 0}},
        {4410, {0xB0, 1, 64}}, // the wheel holds the LFO gate, on a block boundary
        {4700, {0xB0, 1, 127}},
        {4999, {0xB0, 1, 30}},
    };
    std::ranges::copy(rest, std::back_inserter(song));
    std::ranges::copy(BendSweep(5003, 7, 30, 16383, 0), std::back_inserter(song));
    const std::vector<TimedMidi> end = {
        {6000, {0x90, 72, 0}},   // velocity 0: a note-off, held back
        {7000, {0xB0, 64, 0}},   // pedal up
        {7321, {0xB0, 121, 0}},  // reset all controllers: bend centred, wheel 0
        {8500, {0x90, 110, 90}}, // beyond the keyboard: a voice of its own
        {8501, {0x90, 50, 1}},   // the softest
        {9500, {0x80, 110, 0}},  {9777, {0x80, 50, 0}},
    };
    std::ranges::copy(end, std::back_inserter(song));
    return song;
}
const std::vector<TimedMidi> kSong = Song();
constexpr int kSongEnd = 10000;

// The host frame h = floor(frame × rate / 22050) of an event at an engine frame: an event
// at h applies before engine sample ceil(h × 22050 / rate), which is that frame again.
int HostFrame(int frame, int rate) {
    return static_cast<int>(static_cast<std::int64_t>(frame) * rate / kEngineRate);
}

std::string VariableLength(std::uint32_t value) {
    std::string bytes(1, static_cast<char>(value & 0x7F));
    while (value >>= 7)
        bytes.insert(bytes.begin(), static_cast<char>(0x80 | (value & 0x7F)));
    return bytes;
}

std::string BigEndian(std::uint32_t value, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i)
        out += static_cast<char>(value >> (8 * i) & 0xFF);
    return out;
}

// Format 0 with one tick a host frame, so that every event's time is its frame at the rate
// exactly: a quarter note of rate / k ticks lasting 1/k s, k the smallest that fits the
// division's 15 bits.
std::string MidiFile(const std::vector<TimedMidi>& events, int end, int rate = kEngineRate) {
    int k = 1;
    while (rate % k != 0 || 1000000 % k != 0 || rate / k > 0x7FFF)
        ++k;
    std::string track = VariableLength(0) + "\xFF\x51\x03" + BigEndian(1000000 / k, 3);
    int now = 0;
    for (const TimedMidi& event : events) {
        if (event.hostOnly)
            continue;
        const int at = HostFrame(event.frame, rate);
        track += VariableLength(at - now) + std::string(event.bytes.begin(), event.bytes.end());
        now = at;
    }
    track += VariableLength(HostFrame(end, rate) - now) + std::string("\xFF\x2F\x00", 3);
    return "MThd" + BigEndian(6, 4) + BigEndian(0, 2) + BigEndian(1, 2) + BigEndian(rate / k, 2) +
           "MTrk" + BigEndian(track.size(), 4) + track;
}

// morvane-render's raw samples of the input file, which is written first.
std::vector<std::int16_t> Render(const std::string& input, const std::string& content,
                                 const std::string& options = "") {
    TemporaryDirectory folder;
    const std::string in = folder.Path() + "/" + input;
    const std::string out = folder.Path() + "/out.raw";
    std::ofstream(in, std::ios::binary) << content;
    const std::string command =
        std::string(MORVANE_RENDER) + " " + options + " '" + in + "' '" + out + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream file(out, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

std::unique_ptr<Lv2Host> LoadPlugin(double rate) {
    std::string error;
    auto host = Lv2Host::Load(MORVANE_LV2_BUNDLE, morvane::lv2::kPluginUri, rate, error);
    EXPECT_TRUE(host) << error;
    return host;
}

struct PortMove {
    int frame; // host frame of the run that first sees it
    const char* symbol;
    float value;
};

// Runs the plugin in blocks of the sizes, cycled, with the events at their host frames.
std::vector<float> Play(Lv2Host& host, int rate, const std::vector<TimedMidi>& events,
                        const std::vector<PortMove>& moves, int total,
                        const std::vector<int>& sizes) {
    std::vector<float> out(total);
    std::size_t nextEvent = 0, nextMove = 0;
    for (int at = 0, i = 0; at < total; ++i) {
        const int frames = std::min(sizes[i % sizes.size()], total - at);
        for (; nextMove < moves.size() && moves[nextMove].frame <= at; ++nextMove)
            host.Control(moves[nextMove].symbol) = moves[nextMove].value;
        std::vector<Lv2Host::Midi> block;
        for (; nextEvent < events.size() && HostFrame(events[nextEvent].frame, rate) < at + frames;
             ++nextEvent)
            block.push_back(
                {HostFrame(events[nextEvent].frame, rate) - at, events[nextEvent].bytes});
        host.Run(block, std::span<float>(out).subspan(at, frames));
        at += frames;
    }
    return out;
}

std::vector<int> RandomSizes() {
    std::mt19937 random(14);
    std::uniform_int_distribution<int> size(1, 1500);
    std::vector<int> sizes(200);
    std::ranges::generate(sizes, [&] { return size(random); });
    return sizes;
}

struct HostCase {
    const char* name;
    int rate;
    std::vector<int> sizes;
};

// What the plugin's float samples are in a 16-bit file: speexdsp's own rounding of its
// int16 output, which the renderer writes at other rates; at 22050 Hz the samples are
// int16 / 32768 and come back exactly.
std::vector<std::int16_t> As16Bit(const std::vector<float>& samples) {
    std::vector<std::int16_t> out;
    for (float v : samples) {
        const float x = v * 32768;
        out.push_back(x < -32767.5f  ? -32768
                      : x > 32766.5f ? 32767
                                     : static_cast<std::int16_t>(std::floor(0.5f + x)));
    }
    return out;
}

// Equal sample for sample; otherwise where they part, which says more than a dump.
template <typename A, typename B>
testing::AssertionResult SameSamples(const std::vector<A>& actual, const std::vector<B>& expected) {
    const std::size_t n = std::min(actual.size(), expected.size());
    for (std::size_t i = 0; i < n; ++i)
        if (actual[i] != expected[i])
            return testing::AssertionFailure()
                   << "sample " << i << " of " << expected.size() << " is " << actual[i]
                   << ", expected " << expected[i];
    if (actual.size() < expected.size())
        return testing::AssertionFailure()
               << actual.size() << " samples, expected " << expected.size();
    return testing::AssertionSuccess();
}

void PrintTo(const HostCase& c, std::ostream* out) {
    *out << c.name;
}

class PluginPlaysAsTheRenderer : public testing::TestWithParam<HostCase> {};

// Notes, the pedal, the wheels, controllers, RPN 0, reset all controllers and a program
// change to ignore, mostly inside engine blocks: each event applies at its own sample, so
// the plugin plays bit for bit the rendering of the same file, whatever the host's blocks.
TEST_P(PluginPlaysAsTheRenderer, MidiEventsInAnyBlockSize) {
    const HostCase& c = GetParam();
    // Aftertouch moves the filter's intensity: bound in the instance's session as in the
    // settings file the renderer reads.
    TemporaryDirectory folder;
    const std::string settings = folder.Path() + "/bound.ini";
    std::ofstream(settings) << "[MIDI]\nAT=VCF_INTENSITY\n";
    const std::vector<std::int16_t> rendered =
        Render("song.mid", MidiFile(kSong, kSongEnd, c.rate),
               "--ini '" + settings + "' --tail 0.3 --rate " + std::to_string(c.rate));
    ASSERT_GT(rendered.size(), 20u * kBlock * c.rate / kEngineRate);
    ASSERT_TRUE(std::ranges::any_of(rendered, [](std::int16_t v) { return v != 0; }));

    auto host = LoadPlugin(c.rate);
    ASSERT_TRUE(host);
    const std::string unbound = host->SaveState();
    const std::string bindings = "morvane-bindings 1\n";
    const std::size_t at = unbound.find(bindings);
    ASSERT_NE(at, std::string::npos) << unbound;
    std::string bound = unbound;
    bound.insert(at + bindings.size(), "AT=VCF_INTENSITY\n");
    ASSERT_TRUE(host->RestoreState(bound));
    // The file's last frames, as long as the resampler's delay, come from the silence it is
    // flushed with, where the plugin plays on.
    const int delay = morvane::Resampler::Create(c.rate)->DelayFrames();
    const std::vector<float> played =
        Play(*host, c.rate, kSong, {}, rendered.size() - delay, c.sizes);
    EXPECT_TRUE(SameSamples(As16Bit(played),
                            std::vector<std::int16_t>(rendered.begin(), rendered.end() - delay)));
    // At the engine's rate the samples pass through untouched.
    if (c.rate == kEngineRate) {
        std::vector<float> exact;
        for (std::int16_t v : rendered)
            exact.push_back(v / 32768.0f);
        EXPECT_TRUE(SameSamples(played, exact));
    }
}

INSTANTIATE_TEST_SUITE_P(Hosts, PluginPlaysAsTheRenderer,
                         testing::Values(HostCase{"Blocks441", 22050, {441}},
                                         HostCase{"Blocks64", 22050, {64}},
                                         HostCase{"Blocks1000", 22050, {1000}},
                                         HostCase{"RandomBlocks", 22050, RandomSizes()},
                                         HostCase{"Blocks441At48000", 48000, {441}},
                                         HostCase{"Blocks64At48000", 48000, {64}},
                                         HostCase{"Blocks1000At48000", 48000, {1000}},
                                         HostCase{"RandomBlocksAt48000", 48000, RandomSizes()}),
                         [](const auto& info) { return std::string(info.param.name); });

// However many MIDI messages a host puts into one run, none is lost: the note-off after a
// burst of controller moves releases its note, as in the rendering of the same events.
TEST(PluginMidi, ABurstInOneRunLosesNothing) {
    struct Burst {
        const char* name;
        int rate;
        int moves; // controller moves between the note-on and the note-off
    };
    for (const Burst& burst :
         {Burst{"511 moves", kEngineRate, 511}, Burst{"2000 moves", kEngineRate, 2000},
          Burst{"511 moves at 48000 Hz", 48000, 511}}) {
        SCOPED_TRACE(burst.name);
        std::vector<TimedMidi> events = {{0, {0x90, 69, 100}}};
        for (int i = 0; i < burst.moves; ++i)
            events.push_back({1 + i * kBlock / burst.moves,
                              {0xB0, static_cast<std::uint8_t>(i % 2 ? 74 : 71),
                               static_cast<std::uint8_t>(i % 128)}});
        events.push_back({kBlock + 1, {0x80, 69, 0}});
        const std::vector<std::int16_t> reference =
            Render("burst.mid", MidiFile(events, 2 * kBlock, burst.rate),
                   "--tail 3 --rate " + std::to_string(burst.rate));
        auto host = LoadPlugin(burst.rate);
        ASSERT_TRUE(host);
        const int delay = morvane::Resampler::Create(burst.rate)->DelayFrames();
        // Every event in the first run.
        const std::vector<float> played =
            Play(*host, burst.rate, events, {}, reference.size() - delay, {4096, 512});
        EXPECT_TRUE(SameSamples(As16Bit(played), std::vector<std::int16_t>(
                                                     reference.begin(), reference.end() - delay)));
        EXPECT_EQ(As16Bit(played).back(), 0) << "the note was left sounding";
    }
}

// Each event applies before engine sample ceil(h × 22050 / rate) of its host frame h: the
// plugin plays as a score that waits for that sample before each event's command. At another
// rate every event comes the same number K of engine samples later still, while the
// resampler reads ahead, and the latency the plugin reports holds K as host frames.
TEST(PluginTiming, EachEventAppliesAtItsOwnSample) {
    struct Placed {
        int frame; // the engine sample it applies before
        std::vector<std::uint8_t> midi;
        const char* command;
    };
    const std::vector<Placed> events = {
        {300, {0x90, 56, 64}, "on 12 64"},   {301, {0x90, 60, 127}, "on 16"},
        {1000, {0xE0, 32, 95}, "bend 4000"}, {1777, {0xE0, 0, 0}, "bend -8192"},
        {2205, {0x80, 56, 0}, "off 12"},     {2646, {0x80, 60, 0}, "off 16"},
    };
    constexpr int kEnd = 10 * kBlock;
    constexpr int kLongestLag = kBlock;
    const auto score = [&](int later) {
        std::string text;
        int now = 0;
        for (const Placed& event : events) {
            text +=
                "wait " + std::to_string(event.frame + later - now) + "\n" + event.command + "\n";
            now = event.frame + later;
        }
        return text + "wait " + std::to_string(kEnd + kLongestLag - now) + "\n";
    };
    std::vector<TimedMidi> midi;
    for (const Placed& event : events)
        midi.push_back({event.frame, event.midi});
    for (const HostCase& c : {HostCase{"64 frames", kEngineRate, {64}},
                              HostCase{"random blocks", kEngineRate, RandomSizes()},
                              HostCase{"64 frames at 48000 Hz", 48000, {64}},
                              HostCase{"random blocks at 48000 Hz", 48000, RandomSizes()},
                              HostCase{"1 frame at 44100 Hz", 44100, {1}},
                              HostCase{"random blocks at 44100 Hz", 44100, RandomSizes()}}) {
        SCOPED_TRACE(c.name);
        auto host = LoadPlugin(c.rate);
        ASSERT_TRUE(host);
        const int delay = morvane::Resampler::Create(c.rate)->DelayFrames();
        const int frames = HostFrame(kEnd, c.rate);
        const std::vector<std::int16_t> played =
            As16Bit(Play(*host, c.rate, midi, {}, frames, c.sizes));
        const std::string rate = "--rate " + std::to_string(c.rate);
        int lag = 0;
        for (; lag <= kLongestLag; ++lag) {
            std::vector<std::int16_t> rendered = Render("events.score", score(lag), rate);
            ASSERT_GE(rendered.size(), played.size());
            rendered.resize(played.size());
            if (SameSamples(played, rendered))
                break;
        }
        ASSERT_LE(lag, kLongestLag) << "no score plays as the plugin";
        if (c.rate == kEngineRate) {
            EXPECT_EQ(lag, 0);
        }
        const std::int64_t lagFrames =
            (static_cast<std::int64_t>(lag) * c.rate + kEngineRate - 1) / kEngineRate;
        EXPECT_EQ(host->Control("latency"), delay + lagFrames);
    }
}

// The latency a host reads lies within the range the bundle declares, at every rate the
// plugin runs at, the highest included.
TEST(PluginLatency, StaysWithinItsDeclaredRange) {
    for (const int rate : {8000, 22050, 48000, 192000, 384000, 1'000'000}) {
        auto host = LoadPlugin(rate);
        ASSERT_TRUE(host);
        std::vector<float> out(64);
        host->Run({}, out);
        const auto [minimum, maximum] = host->Range("latency");
        EXPECT_EQ(host->Control("latency"), morvane::Resampler::Create(rate)->DelayFrames());
        EXPECT_GE(host->Control("latency"), minimum) << rate;
        EXPECT_LE(host->Control("latency"), maximum) << rate;
    }
}

// A port moved in the middle of an engine block reaches the sound at the next boundary,
// as the score's parameter lines between render lines do; fractions round.
TEST(PluginPorts, MoveAtTheNextBlockBoundary) {
    const std::vector<std::int16_t> reference =
        Render("moves.score", "on 12\nrender 2\n"
                              "param WAVE1_TYPE 2\nrender 3\n"
                              "param VCF_CUTOFF 30\nrender 2\n"
                              "param TUNING 4500\nrender 8\n");
    auto host = LoadPlugin(kEngineRate);
    ASSERT_TRUE(host);
    const std::vector<PortMove> moves = {
        {500, "wave1_type", 2.4f}, {2000, "vcf_cutoff", 30}, {3000, "tuning", 4500}};
    const std::vector<float> played =
        Play(*host, kEngineRate, {{0, {0x90, 56, 127}}}, moves, reference.size(), {100});
    EXPECT_TRUE(SameSamples(As16Bit(played), reference));
}

// The playing ports, appended after the tuning, reach the sound as the score's parameter
// lines do; MIDI velocity and bend play as the score's.
TEST(PluginPorts, PlayingPortsAndTheBendPlayAsTheScore) {
    const std::vector<std::int16_t> reference =
        Render("bend.score", "param VELOCITY_CUTOFF 50\nrender 1\non 12 64\nrender 2\n"
                             "param BEND_RANGE 12\nbend 8191\nrender 3\n");
    auto host = LoadPlugin(kEngineRate);
    ASSERT_TRUE(host);
    const std::vector<PortMove> moves = {{0, "velocity_cutoff", 50}, {1300, "bend_range", 12}};
    const std::vector<float> played =
        Play(*host, kEngineRate, {{441, {0x90, 56, 64}}, {1323, {0xE0, 127, 127}}}, moves,
             reference.size(), {100});
    EXPECT_TRUE(SameSamples(As16Bit(played), reference));
}

// The panel's Ctrl key holds the LFO gate from the next block boundary, as the score's ctrl
// lines between render lines do; saying it again changes nothing.
TEST(PluginPanelCtrl, HoldsTheLfoGateAsTheScore) {
    const std::string score = "on 12\nrender 2\nctrl 1\nrender 10\nctrl 0\nrender 6\n";
    const std::vector<std::int16_t> reference = Render("ctrl.score", score);
    ASSERT_NE(reference, Render("still.score", "on 12\nrender 18\n")) << "Ctrl changes nothing";
    auto host = LoadPlugin(kEngineRate);
    ASSERT_TRUE(host);
    const std::map<int, int> held = {{2, 1}, {5, 1}, {12, 0}}; // by engine block
    std::vector<float> played(reference.size());
    std::vector<Lv2Host::Midi> on = {{0, {0x90, 56, 127}}};
    for (int block = 0; block * kBlock < static_cast<int>(played.size()); ++block) {
        if (held.contains(block))
            host->Send({morvane::lv2::ui::kCtrl, {{morvane::lv2::ui::kHeld, held.at(block)}}, {}});
        host->Run(block == 0 ? on : std::vector<Lv2Host::Midi>{},
                  std::span<float>(played).subspan(block * kBlock, kBlock));
    }
    EXPECT_TRUE(SameSamples(As16Bit(played), reference));
}

struct PresetCase {
    const char* name;
    bool exported; // from the settings file, or the bundle's own
    const char* uri;
    const char* renderOptions;
};

void PrintTo(const PresetCase& c, std::ostream* out) {
    *out << c.name;
}

class PluginPresets : public testing::TestWithParam<PresetCase> {};

// A preset in a host sounds as the same preset loaded by the renderer, tuning included.
TEST_P(PluginPresets, SoundAsTheRenderersPreset) {
    const PresetCase& c = GetParam();
    TemporaryDirectory folder;
    const std::string bundle = folder.Path() + "/mine.lv2";
    const std::string command = std::string(MORVANE_RENDER) + " --export-lv2-presets '" +
                                MORVANE_SETTINGS + "' '" + bundle + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::vector<std::int16_t> reference =
        Render("song.mid", MidiFile(kSong, kSongEnd), std::string("--tail 0.3 ") + c.renderOptions);

    auto host = LoadPlugin(kEngineRate);
    ASSERT_TRUE(host);
    ASSERT_TRUE(host->LoadPreset(c.exported ? bundle : MORVANE_LV2_BUNDLE, c.uri));
    const std::vector<float> played = Play(*host, kEngineRate, kSong, {}, reference.size(), {441});
    EXPECT_TRUE(SameSamples(As16Bit(played), reference));
}

INSTANTIATE_TEST_SUITE_P(
    Presets, PluginPresets,
    testing::Values(PresetCase{"Default", false, "urn:morvane:synth:preset:default", ""},
                    PresetCase{"FirstOfAFile", true, "urn:morvane:synth:preset:mine:0",
                               "--ini " MORVANE_SETTINGS " --preset 0"},
                    PresetCase{"LastOfAFile", true, "urn:morvane:synth:preset:mine:7",
                               "--ini " MORVANE_SETTINGS " --preset 7"}),
    [](const auto& info) { return std::string(info.param.name); });

// Started afresh, an instance that has played, its ports moved, plays as a new one: no key
// left down, no echo left over, the sound as the ports have it.
TEST(PluginActivation, StartsAfresh) {
    auto host = LoadPlugin(kEngineRate);
    ASSERT_TRUE(host);
    host->Control("echo_depth") = 60;
    const std::vector<float> first = Play(*host, kEngineRate, kSong, {}, 8000, {441});
    host->Restart();
    const std::vector<float> again = Play(*host, kEngineRate, kSong, {}, 8000, {441});
    EXPECT_TRUE(SameSamples(again, first));
}

TEST(PluginRates, InstantiatesAtHostRatesNotAtAFractionalOne) {
    for (double rate : {22050.0, 44100.0, 48000.0, 96000.0}) {
        std::string error;
        EXPECT_TRUE(Lv2Host::Load(MORVANE_LV2_BUNDLE, morvane::lv2::kPluginUri, rate, error))
            << rate << ": " << error;
    }
    std::string error;
    EXPECT_FALSE(Lv2Host::Load(MORVANE_LV2_BUNDLE, morvane::lv2::kPluginUri, 44100.5, error));
}

} // namespace
