// The plugin in a host, against the offline renderer: the same events give the same
// samples whatever the host's block size, at the engine's rate and resampled.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "audio/resampler.h"
#include "plugin/ports.h"
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

const std::vector<TimedMidi> kSong = {
    {0, {0x90, 69, 100}},    // A, 440 Hz, before the first block
    {200, {0x90, 72, 64}},   // within a block: before the next one
    {1500, {0xB0, 74, 100}}, // cutoff, by the default binding
    {2000, {0xC0, 1}, true}, // a program change would reload the cutoff
    {2500, {0xE0, 0, 90}},   // the bend wheel up
    {2600, {0xB0, 101, 0}},  {2600, {0xB0, 100, 0}},  {2600, {0xB0, 6, 12}}, // RPN 0: 12 semitones
    {3000, {0xB0, 64, 127}},                                                 // pedal down
    {3100, {0x80, 69, 0}},                                                   // held back
    {4410, {0xB0, 1, 64}},  // the wheel holds the LFO gate, on a block boundary
    {5000, {0xE0, 0, 20}},  // and down
    {6000, {0x90, 72, 0}},  // velocity 0: a note-off, held back
    {7000, {0xB0, 64, 0}},  // pedal up
    {7500, {0xB0, 121, 0}}, // reset all controllers
    {8000, {0xB0, 1, 0}},    {8500, {0x90, 110, 90}}, // beyond the keyboard: a voice of its own
    {9500, {0x80, 110, 0}},
};
constexpr int kSongEnd = 10000;

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

// Format 0 with one tick a frame: 22050 ticks a quarter note of one second.
std::string MidiFile(const std::vector<TimedMidi>& events, int end) {
    std::string track = VariableLength(0) + "\xFF\x51\x03" + BigEndian(1000000, 3);
    int now = 0;
    for (const TimedMidi& event : events) {
        if (event.hostOnly)
            continue;
        track +=
            VariableLength(event.frame - now) + std::string(event.bytes.begin(), event.bytes.end());
        now = event.frame;
    }
    track += VariableLength(end - now) + std::string("\xFF\x2F\x00", 3);
    return "MThd" + BigEndian(6, 4) + BigEndian(0, 2) + BigEndian(1, 2) +
           BigEndian(kEngineRate, 2) + "MTrk" + BigEndian(track.size(), 4) + track;
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

// What a host at the rate hears of the engine's samples: the same resampler the plugin runs.
std::vector<float> AtRate(const std::vector<std::int16_t>& engine, int rate) {
    auto resampler = morvane::Resampler::Create(rate);
    std::vector<float> out(engine.size() * rate / kEngineRate + 1);
    const auto done = resampler->Process(engine, std::span<float>(out));
    EXPECT_EQ(done.consumed, static_cast<int>(engine.size()));
    out.resize(done.produced);
    return out;
}

std::unique_ptr<Lv2Host> LoadPlugin(double rate) {
    std::string error;
    auto host = Lv2Host::Load(MORVANE_LV2_BUNDLE, morvane::lv2::kPluginUri, rate, error);
    EXPECT_TRUE(host) << error;
    return host;
}

// Where a host at the rate puts an event to have it before the same engine block as at
// frame t of the engine: an engine block lasts a whole number of host frames at these
// rates, and half a block before its start leaves the resampler's few frames of
// look-ahead room on either side.
int HostFrame(int t, int rate) {
    const int framesPerBlock = kBlock * rate / kEngineRate;
    const int block = (t + kBlock - 1) / kBlock;
    return rate == kEngineRate || block == 0 ? t * rate / kEngineRate
                                             : block * framesPerBlock - framesPerBlock / 2;
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

// Notes, the pedal, the wheel, a controller move and a program change to ignore: the
// rendering of the file at the host's rate, and bit for bit the engine's samples through
// the plugin's resampler.
TEST_P(PluginPlaysAsTheRenderer, MidiEventsInAnyBlockSize) {
    const HostCase& c = GetParam();
    const std::string song = MidiFile(kSong, kSongEnd);
    const std::vector<std::int16_t> engine = Render("song.mid", song, "--tail 0.3");
    const std::vector<std::int16_t> rendered =
        Render("song.mid", song, "--tail 0.3 --rate " + std::to_string(c.rate));
    ASSERT_GT(engine.size(), 20u * kBlock);
    ASSERT_TRUE(std::ranges::any_of(engine, [](std::int16_t v) { return v != 0; }));

    auto host = LoadPlugin(c.rate);
    ASSERT_TRUE(host);
    const std::vector<float> played = Play(*host, c.rate, kSong, {}, rendered.size(), c.sizes);
    // The file's last frames, as long as the resampler's delay, come from the silence it is
    // flushed with, where the plugin plays on.
    const int delay = morvane::Resampler::Create(c.rate)->DelayFrames();
    EXPECT_TRUE(SameSamples(As16Bit(played),
                            std::vector<std::int16_t>(rendered.begin(), rendered.end() - delay)));
    EXPECT_TRUE(SameSamples(played, AtRate(engine, c.rate)));
    EXPECT_EQ(host->Control("latency"), delay);
}

INSTANTIATE_TEST_SUITE_P(Hosts, PluginPlaysAsTheRenderer,
                         testing::Values(HostCase{"Blocks441", 22050, {441}},
                                         HostCase{"Blocks64", 22050, {64}},
                                         HostCase{"Blocks1000", 22050, {1000}},
                                         HostCase{"RandomBlocks", 22050, RandomSizes()},
                                         HostCase{"At48000", 48000, RandomSizes()}),
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
            Render("burst.mid", MidiFile(events, 2 * kBlock),
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
