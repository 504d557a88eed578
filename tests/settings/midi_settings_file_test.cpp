#include "settings/midi_settings_file.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/settings/settings_fixture.h"

using namespace morvane;
using namespace morvane::fixture;

// Each case writes a file, may save into it, and reads the channel, the sources, how
// velocity and the bend play, the lines reported as skipped (by both readers of the
// section) and the whole text back.
TEST(MidiSettingsFile, ChannelAndSourcesAreReadSavedAndLeaveTheOtherLines) {
    using Save = std::function<Status(const std::filesystem::path&)>;
    struct Case {
        const char* name;
        const char* file; // nullptr: no settings file
        Save save;
        MidiSettings expected;
        std::vector<std::string> skipped;
        const char* text; // nullptr: not compared
    };
    const std::string keyboard = "a2j:USB Keyboard [20] (capture): MIDI 1";
    const Case cases[] = {
        {"no file: every channel, no source", nullptr, nullptr, {}, {}, nullptr},
        {"a channel and sources, the bindings beside them untouched",
         "[MIDI]\nCC20=VCF_CUTOFF\nchannel = 10\nSOURCE1=x:a, b|c\nSOURCE7= y:z \n",
         nullptr,
         {10, {"x:a, b|c", "y:z"}},
         {},
         nullptr},
        {"out of range is clamped", "[MIDI]\nCHANNEL=17\n", nullptr, {16, {}}, {}, nullptr},
        {"playing values are read in any case and clamped; a broken one is skipped",
         "[MIDI]\nVELOCITY_AMP=50\nvelocity_cutoff=150\nBEND_RANGE=-1\nBEND_RANGE=x\n",
         nullptr,
         {0, {}, {50, 100, 0}},
         {"BEND_RANGE=x"},
         nullptr},
        {"a playing save writes its line clamped and leaves the rest",
         "[MIDI]\nCC20=VCF_CUTOFF\nBEND_RANGE=2\n",
         [](const auto& path) { return SaveMidiPlaying(path, PlayingControl::BendRange, 30); },
         {0, {}, {100, 0, 24}},
         {},
         "[MIDI]\nCC20=VCF_CUTOFF\nBEND_RANGE=24\n"},
        {"below range is clamped", "[MIDI]\nCHANNEL=-3\n", nullptr, {0, {}}, {}, nullptr},
        {"a broken channel is skipped and named once, the later line wins",
         "[MIDI]\nCHANNEL=3\nCHANNEL=three\nSOURCE=x\nSOURCE2=\nSOURCE3=y\nSOURCE4=y\n",
         nullptr,
         {3, {"y"}},
         {"CHANNEL=three", "SOURCE=x"},
         nullptr},
        {"a channel save changes its line alone",
         "; mine\n[MIDI]\nCC20=VCF_CUTOFF\nCHANNEL=2\n[SETUP]\nTUNING=4500\n",
         [](const auto& path) { return SaveMidiChannel(path, 5); },
         {5, {}},
         {},
         "; mine\n[MIDI]\nCC20=VCF_CUTOFF\nCHANNEL=5\n[SETUP]\nTUNING=4500\n"},
        {"a sources save replaces the source lines and keeps the rest",
         "[MIDI]\nSOURCE1=old\n; knobs\nCC20=VCF_CUTOFF\n",
         [&](const auto& path) {
             return SaveMidiSources(path, {keyboard, "b"});
         },
         {0, {keyboard, "b"}},
         {},
         nullptr},
        {"saving the same sources writes nothing",
         "[MIDI]\nsource9 = a\n",
         [](const auto& path) { return SaveMidiSources(path, {"a"}); },
         {0, {"a"}},
         {},
         "[MIDI]\nsource9 = a\n"},
        {"saving no sources leaves no source line",
         "[MIDI]\nSOURCE1=a\nCHANNEL=1\n",
         [](const auto& path) { return SaveMidiSources(path, {}); },
         {1, {}},
         {},
         "[MIDI]\nCHANNEL=1\n"},
    };
    for (const Case& c : cases) {
        TemporaryDirectory dir;
        const std::filesystem::path path = dir / "morvane.ini";
        if (c.file)
            WriteBytes(path, c.file);
        if (c.save) {
            ASSERT_TRUE(c.save(path).ok()) << c.name;
        }
        std::vector<std::string> skipped;
        const auto skip = [&](const std::string& line, const std::string&) {
            skipped.push_back(line);
        };
        const Result<MidiSettings> settings = LoadMidiSettings(path, skip);
        ASSERT_TRUE(settings.ok()) << c.name;
        ASSERT_TRUE(LoadControllerBindings(path, skip).ok()) << c.name;
        EXPECT_EQ(settings->channel, c.expected.channel) << c.name;
        EXPECT_EQ(settings->sources, c.expected.sources) << c.name;
        EXPECT_EQ(settings->playing, c.expected.playing) << c.name;
        EXPECT_EQ(skipped, c.skipped) << c.name;
        if (c.text) {
            EXPECT_EQ(ReadBytes(path), c.text) << c.name;
        }
    }
    TemporaryDirectory dir;
    std::filesystem::create_directory(dir / "morvane.ini");
    EXPECT_FALSE(LoadMidiSettings(dir / "morvane.ini").ok());
    EXPECT_FALSE(SaveMidiChannel(dir / "morvane.ini", 1).ok());
}
