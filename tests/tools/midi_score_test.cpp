#include "tools/midi_score.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "audio/wav_recorder.h"
#include "engine/startup.h"
#include "tests/tools/render_fixture.h"

using namespace morvane;
using namespace morvane::render_fixture;

namespace {

// Standard MIDI File bytes, written out here so that each test shows what it plays.
std::string BigEndian(std::uint32_t value, int bytes) {
    std::string text;
    for (int i = bytes - 1; i >= 0; --i)
        text += static_cast<char>(value >> (8 * i) & 0xFF);
    return text;
}

std::string Bytes(std::initializer_list<int> bytes) {
    std::string text;
    for (int byte : bytes)
        text += static_cast<char>(byte);
    return text;
}

std::string VariableLength(std::uint32_t value) {
    std::string text(1, static_cast<char>(value & 0x7F));
    while (value >>= 7)
        text.insert(text.begin(), static_cast<char>(0x80 | (value & 0x7F)));
    return text;
}

// Events as (delta ticks, bytes); the track's end follows the last after endDelta ticks.
std::string Track(const std::vector<std::pair<std::uint32_t, std::string>>& events,
                  std::uint32_t endDelta = 0) {
    std::string body;
    for (const auto& [delta, bytes] : events)
        body += VariableLength(delta) + bytes;
    body += VariableLength(endDelta) + Bytes({0xFF, 0x2F, 0x00});
    return "MTrk" + BigEndian(static_cast<std::uint32_t>(body.size()), 4) + body;
}

std::string MidiFileBytes(int ticksPerQuarter, const std::vector<std::string>& tracks) {
    std::string file = "MThd" + BigEndian(6, 4) + BigEndian(1, 2) +
                       BigEndian(static_cast<std::uint32_t>(tracks.size()), 2) +
                       BigEndian(static_cast<std::uint32_t>(ticksPerQuarter), 2);
    for (const std::string& track : tracks)
        file += track;
    return file;
}

// 100 ticks a quarter at 200000 microseconds a quarter: 2 ms a tick, 10 ticks a block.
constexpr int kTicksPerQuarter = 100;
const std::string kTempoTrack = Track({{0, Bytes({0xFF, 0x51, 0x03, 0x03, 0x0D, 0x40})}});

// A note held by the pedal past its note-off, a program change, two controllers on a
// block's start, the mod wheel, and the end at tick 100, the start of block 10.
const std::string kPhrase = MidiFileBytes(
    kTicksPerQuarter, {kTempoTrack, Track(
                                        {
                                            {0, Bytes({0xC0, 0x02})},        // program 2
                                            {0, Bytes({0x90, 0x45, 0x7F})},  // note 69: key 33
                                            {0, Bytes({0xB0, 0x40, 0x7F})},  // pedal down
                                            {25, Bytes({0x80, 0x45, 0x00})}, // held back
                                            {5, Bytes({0xB0, 0x4A, 0x10})},  // tick 30: CC74 16
                                            {0, Bytes({0xB0, 0x14, 0x7F})},  // CC20 127
                                            {10, Bytes({0xB0, 0x01, 0x7F})}, // tick 40: wheel
                                            {20, Bytes({0xB0, 0x40, 0x00})}, // tick 60: key 33 up
                                            {20, Bytes({0xB0, 0x01, 0x00})}, // tick 80
                                        },
                                        20)});

std::string PresetParams(const PresetValues& values) {
    std::string lines;
    for (int i = 0; i < kPresetControlCount; ++i)
        lines += std::string("param ") + Describe(static_cast<ControlId>(i)).key + " " +
                 std::to_string(values[i]) + "\n";
    return lines;
}

std::string PresetSection(const PresetValues& values) {
    std::string lines = "[PRESET2]\n";
    for (int i = 0; i < kPresetControlCount; ++i)
        lines += std::string(Describe(static_cast<ControlId>(i)).key) + "=" +
                 std::to_string(values[i]) + "\n";
    return lines;
}

} // namespace

// The phrase as a hand-written score: each event lands before the first sample that
// starts at or after it, so the events on tick 0 and tick 30 go before blocks 0 and 3; the
// held-back note-off at tick 25 cuts at sample 1103 and changes nothing.
TEST(MidiScore, RendersAsTheSameEventsWrittenAsAScore) {
    PresetValues changed = DefaultPresetValues();
    changed[ModDepth] = Describe(ModDepth).maximum;
    changed[EnvRelease] = Describe(EnvRelease).maximum;
    changed[VcfResonance] = Describe(VcfResonance).maximum;
    const std::string sustainAtTop =
        "param ENV_SUSTAIN " + std::to_string(Describe(EnvSustain).maximum) + "\n";
    struct Case {
        const char* name;
        const char* settings; // nullptr: no --ini
        PresetValues preset;
        std::string boundToCc20;
    };
    const Case cases[] = {
        {"without a settings file: default presets and bindings", nullptr, DefaultPresetValues(),
         ""},
        {"the settings file's preset and bindings", "[MIDI]\nCC74=VCF_CUTOFF\nCC20=ENV_SUSTAIN\n",
         changed, sustainAtTop},
    };
    for (const Case& c : cases) {
        ScratchDirectory dir;
        WriteBytes(dir / "phrase.mid", kPhrase);
        std::vector<std::string> options;
        if (c.settings) {
            WriteBytes(dir / "morvane.ini", PresetSection(c.preset) + c.settings);
            options = {"--ini", dir / "morvane.ini"};
        }
        const std::string score = PresetParams(c.preset) + "on 33\nrender 3\n" +
                                  "param VCF_CUTOFF 13\n" + c.boundToCc20 +
                                  "render 1\nctrl 1\nrender 2\noff 33\nrender 2\n"
                                  "ctrl 0\nrender 102\n";

        std::vector<std::string> midi = options, written = options;
        midi.insert(midi.end(), {dir / "phrase.mid", "-"});
        written.insert(written.end(), {"-", "-"});
        const ToolRun fromMidi = RenderTool(midi);
        const ToolRun fromScore = RenderTool(written, score);
        ASSERT_EQ(fromMidi.status, kExitSuccess) << c.name << ": " << fromMidi.errors;
        ASSERT_EQ(fromScore.status, kExitSuccess) << c.name << ": " << fromScore.errors;
        EXPECT_EQ(fromMidi.output.size(), std::size_t{110} * kBlockBytes) << c.name;
        EXPECT_TRUE(fromMidi.output == fromScore.output) << c.name;
    }
}

// Events off the 20 ms grid apply at their own samples, ceil(t x 22050): a tick is 44.1
// samples, so ticks 3 and 27 are samples 133 and 1191, as a score's waits place them, at
// the engine's rate and at 48000 Hz alike.
TEST(MidiScore, EventsOffTheGridApplyAtTheirOwnSamples) {
    ScratchDirectory dir;
    WriteBytes(
        dir / "off-grid.mid",
        MidiFileBytes(kTicksPerQuarter, {kTempoTrack, Track(
                                                          {
                                                              {3, Bytes({0x90, 0x45, 0x50})},
                                                              {24, Bytes({0x80, 0x45, 0x00})},
                                                          },
                                                          73)}));
    const std::string score = "wait 133\non 33 80\nwait 1058\noff 33\nwait 3219\n";
    for (const char* rate : {"22050", "48000"}) {
        const ToolRun fromMidi =
            RenderTool({"--tail", "0", "--rate", rate, dir / "off-grid.mid", "-"});
        const ToolRun fromScore = RenderTool({"--rate", rate, "-", "-"}, score);
        ASSERT_EQ(fromMidi.status, kExitSuccess) << fromMidi.errors;
        ASSERT_EQ(fromScore.status, kExitSuccess) << fromScore.errors;
        EXPECT_FALSE(fromMidi.output.empty());
        EXPECT_TRUE(fromMidi.output == fromScore.output) << rate;
    }
}

TEST(MidiScore, RendersThroughTheEndAndTheTail) {
    struct Case {
        const char* name;
        std::uint32_t endTick;
        std::vector<std::string> options;
        std::size_t blocks;
    };
    const Case cases[] = {
        {"two seconds by default", 100, {}, 110},
        {"--tail 0 stops at the end", 100, {"--tail", "0"}, 10},
        {"an end inside a block renders that block", 101, {"--tail=0"}, 11},
        {"a tail of 12.5 blocks rounds up", 100, {"--tail", "0.25"}, 23},
    };
    for (const Case& c : cases) {
        ScratchDirectory dir;
        WriteBytes(dir / "end.MIDI",
                   MidiFileBytes(kTicksPerQuarter, {kTempoTrack, Track({}, c.endTick)}));
        std::vector<std::string> arguments = c.options;
        arguments.insert(arguments.end(), {dir / "end.MIDI", "-"});
        const ToolRun run = RenderTool(arguments);
        ASSERT_EQ(run.status, kExitSuccess) << c.name << ": " << run.errors;
        EXPECT_EQ(run.output.size(), c.blocks * kBlockBytes) << c.name;
    }
}

TEST(MidiScore, BrokenOrEndlessFileIsAnErrorAndLeavesNoOutput) {
    const std::string header = "MThd" + BigEndian(6, 4) + BigEndian(0, 2) + BigEndian(1, 2);
    struct Case {
        const char* name;
        std::string bytes;
        std::string error;
    };
    const Case cases[] = {
        {"not a MIDI file", "RIFF", "byte 0: not a MIDI file (it does not begin with MThd)"},
        {"a track running past the end", header + BigEndian(96, 2) + "MTrk" + BigEndian(100, 4),
         "byte 18: a chunk of 100 bytes runs past the end of the file"},
        // 2^28 - 1 quarters of 16.8 s each.
        {"years of silence",
         header + BigEndian(1, 2) +
             Track({{0, Bytes({0xFF, 0x51, 0x03, 0xFF, 0xFF, 0xFF})}}, 0x0FFFFFFF),
         "the file and its tail last 225179967208 blocks of 20 ms, more than the 24 hours "
         "rendered at most"},
    };
    for (const Case& c : cases) {
        ScratchDirectory dir;
        WriteBytes(dir / "song.mid", c.bytes);
        const ToolRun run = RenderTool({dir / "song.mid", dir / "song.wav"});
        EXPECT_EQ(run.status, kExitFailure) << c.name;
        EXPECT_EQ(run.errors, dir / "song.mid" + ": " + c.error + "\n") << c.name;
        EXPECT_EQ(dir.Names(), std::vector<std::string>{"song.mid"}) << c.name;
    }
}

// The settings file's channel is the one that plays, as in the program: the rendering is
// that of the file holding only that channel's messages; 0 or no line plays every channel.
TEST(MidiScore, PlaysTheChannelTheSettingsFileListensTo) {
    // (delta ticks, status without its channel, data, channel 0..15), a few off the grid.
    struct Message {
        std::uint32_t delta;
        int status;
        int data1;
        int data2;
        int channel;
    };
    const std::vector<Message> song = {
        {0, 0x90, 69, 100, 0}, {5, 0x90, 76, 90, 1},  {3, 0xB0, 74, 20, 0},
        {7, 0xE0, 0, 100, 1},  {10, 0x80, 69, 0, 0},  {4, 0xB0, 64, 127, 1},
        {6, 0x80, 76, 0, 1},   {13, 0x90, 57, 60, 2}, {20, 0xB0, 121, 0, 1},
    };
    // The messages of the channels kept, their time unchanged.
    const auto file = [&](std::initializer_list<int> channels) {
        std::vector<std::pair<std::uint32_t, std::string>> events;
        std::uint32_t skipped = 0;
        for (const Message& m : song) {
            if (std::find(channels.begin(), channels.end(), m.channel) == channels.end()) {
                skipped += m.delta;
                continue;
            }
            events.push_back({skipped + m.delta, Bytes({m.status | m.channel, m.data1, m.data2})});
            skipped = 0;
        }
        return MidiFileBytes(kTicksPerQuarter, {kTempoTrack, Track(events, skipped + 20)});
    };
    const struct {
        const char* line;
        std::string heard;
    } cases[] = {
        {"CHANNEL=2\n", file({1})},
        {"CHANNEL=1\n", file({0})},
        {"CHANNEL=0\n", file({0, 1, 2})},
        {"", file({0, 1, 2})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ScratchDirectory dir;
        WriteBytes(dir / "song.mid", file({0, 1, 2}));
        WriteBytes(dir / "heard.mid", c.heard);
        WriteBytes(dir / "listening.ini", std::string("[MIDI]\n") + c.line);
        WriteBytes(dir / "all.ini", "[MIDI]\nCHANNEL=0\n");
        const ToolRun played = RenderTool({"--ini", dir / "listening.ini", dir / "song.mid", "-"});
        const ToolRun heard = RenderTool({"--ini", dir / "all.ini", dir / "heard.mid", "-"});
        ASSERT_EQ(played.status, kExitSuccess) << played.errors;
        ASSERT_EQ(heard.status, kExitSuccess) << heard.errors;
        EXPECT_TRUE(played.output == heard.output);
    }
}
