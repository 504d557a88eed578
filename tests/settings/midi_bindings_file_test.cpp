#include "settings/midi_bindings_file.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "engine/startup.h"
#include "engine/tuning.h"
#include "settings/ini_file.h"
#include "tests/settings/settings_fixture.h"
#include "tests/support/bindings_text.h"

using namespace morvane;
using namespace morvane::fixture;

namespace {

struct Kept {
    const char* section;
    const char* key;
    int value;
};

Status SaveAPreset(const std::filesystem::path& file) {
    StartedEngine program(file);
    program.controls.Set(NoiseVol, 9);
    return program.bank.SavePreset(2);
}

Status SaveATuning(const std::filesystem::path& file) {
    StartedEngine program(file);
    ApplyTuning(*program.state, 4502);
    return SaveTuning(*program.state, file);
}

std::function<Status(const std::filesystem::path&)> SaveBindings(const char* text) {
    return [text](const std::filesystem::path& file) {
        return SaveControllerBindings(file, fixture::BindingsFromText(text));
    };
}

} // namespace

// Each case writes a file, may save something into it, and reads the bindings, the lines
// reported as skipped and the other sections back.
TEST(MidiBindingsFile, SectionIsReadSavedAndLivesBesideThePresetsAndTheTuning) {
    const std::string defaults = fixture::BindingsText(ControllerBindings::Defaults());
    struct Case {
        const char* name;
        const char* file; // nullptr: no settings file
        std::function<Status(const std::filesystem::path&)> save;
        std::string bindings;
        std::vector<std::string> skipped;
        std::vector<Kept> kept;
    };
    const Case cases[] = {
        {"no file: the defaults", nullptr, nullptr, defaults, {}, {}},
        {"no section: the defaults", "[SETUP]\nTUNING=4500\n", nullptr, defaults, {}, {}},
        {"an empty section: the defaults", "[MIDI]\n", nullptr, defaults, {}, {}},
        {"a bad line unbinds nothing",
         "[MIDI]\nCC74=NOT_A_KEY\n",
         nullptr,
         defaults,
         {"CC74=NOT_A_KEY"},
         {}},
        {"broken lines are skipped and named, later lines win, an empty value lets go",
         "[midi]\nCC20=VCF_CUTOFF\nCC128=ENV_DECAY\nCC1=ENV_DECAY\nCC30=WAVE1_TYPE\n"
         "CC31=NO_SUCH\nnot a binding\nCC=ENV_ATTACK\ncc21 = env_release\nCC22=VCF_CUTOFF\n"
         "CC73=\n",
         nullptr,
         "CC21=ENV_RELEASE\nCC22=VCF_CUTOFF\nCC71=VCF_RESONANCE\nCC75=ENV_DECAY\n",
         {"CC128=ENV_DECAY", "CC1=ENV_DECAY", "CC30=WAVE1_TYPE", "CC31=NO_SUCH", "not a binding",
          "CC=ENV_ATTACK"},
         {}},
        {"a preset save keeps the section",
         "[MIDI]\nCC20=VCF_CUTOFF\n[SETUP]\nTUNING=4500\n",
         SaveAPreset,
         "CC20=VCF_CUTOFF\nCC71=VCF_RESONANCE\nCC72=ENV_RELEASE\nCC73=ENV_ATTACK\nCC75=ENV_DECAY\n",
         {},
         {{"PRESET2", "NOISE_VOL", 9}, {"SETUP", "TUNING", 4500}}},
        {"a tuning save keeps the section",
         "[MIDI]\nCC71=\n",
         SaveATuning,
         "CC72=ENV_RELEASE\nCC73=ENV_ATTACK\nCC74=VCF_CUTOFF\nCC75=ENV_DECAY\n",
         {},
         {{"SETUP", "TUNING", 4502}}},
        {"a bindings save changes the section and keeps the others",
         "[SETUP]\nTUNING=4500\n[PRESET1]\nNOISE_VOL=7\n[MIDI]\nCC74=VCF_CUTOFF\nCC20=ENV_DECAY\n",
         SaveBindings("CC21=ENV_ATTACK\n"),
         "CC21=ENV_ATTACK\n",
         {},
         {{"SETUP", "TUNING", 4500}, {"PRESET1", "NOISE_VOL", 7}}},
        {"a save over lines that contradict each other",
         "[MIDI]\nCC74=\nCC20=VCF_CUTOFF\nCC20=ENV_ATTACK\n",
         SaveBindings("CC74=VCF_CUTOFF\nCC20=ENV_ATTACK\n"),
         "CC20=ENV_ATTACK\nCC74=VCF_CUTOFF\n",
         {},
         {}},
        {"saving no bindings is not the defaults", nullptr, SaveBindings(""), "", {}, {}},
        {"a fresh save of the defaults", nullptr, SaveBindings(defaults.c_str()), defaults, {}, {}},
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
        const Result<ControllerBindings> bindings = LoadControllerBindings(
            path, [&](const std::string& line, const std::string&) { skipped.push_back(line); });
        ASSERT_TRUE(bindings.ok()) << c.name;
        EXPECT_EQ(fixture::BindingsText(*bindings), c.bindings) << c.name;
        EXPECT_EQ(skipped, c.skipped) << c.name;
        const IniFile file = IniFile::Parse(ReadBytes(path));
        for (const Kept& k : c.kept)
            EXPECT_EQ(file.ReadInteger(k.section, k.key, -1), k.value) << c.name << " " << k.key;
    }
}

// A file the user edited keeps every line a save does not write: the comments, the blank
// lines, the lines before the first section, the spacing and the line ends.
TEST(MidiBindingsFile, SavesKeepTheLinesTheyDoNotWrite) {
    const std::string edited = "; Morvane, tuned for the band\n"
                               "owner = me\n"
                               "\n"
                               "[SETUP]\n"
                               "; 440 is too bright\n"
                               "TUNING = 4410\n"
                               "\n"
                               "[MIDI]\n"
                               "; the knobs of my keyboard\n"
                               "CC20 = VCF_CUTOFF\n"
                               "CC74=NOT_A_KEY\n"
                               "; end of the knobs\n"
                               "\n"
                               "[PRESET1]\n"
                               "; a warm pad\n";
    std::string preset1;
    for (int i = 0; i < kPresetControlCount; ++i) {
        const auto id = static_cast<ControlId>(i);
        preset1 += std::string(Describe(id).key) + "=" +
                   std::to_string(id == NoiseVol ? 9 : DefaultPresetValues()[i]) + "\n";
    }
    auto replaced = [&edited](const std::string& line, const std::string& by) {
        std::string text = edited;
        return text.replace(text.find(line), line.size(), by);
    };
    struct Case {
        const char* name;
        std::function<Status(const std::filesystem::path&)> save;
        std::string expected;
    };
    const Case cases[] = {
        {"a preset save",
         [](const auto& file) {
             StartedEngine program(file);
             program.controls.Set(NoiseVol, 9);
             return program.bank.SavePreset(1);
         },
         edited + preset1},
        {"a tuning save", SaveATuning, replaced("TUNING = 4410\n", "TUNING=4502\n")},
        {"a learn",
         [](const auto& file) {
             ControllerBindings bindings = *LoadControllerBindings(file);
             EXPECT_TRUE(bindings.Bind(21, EnvSustain).ok());
             return SaveControllerBindings(file, bindings);
         },
         replaced("CC74=NOT_A_KEY\n", "CC74=NOT_A_KEY\nCC21=ENV_SUSTAIN\n")},
        {"letting go of a controller",
         [](const auto& file) {
             ControllerBindings bindings = *LoadControllerBindings(file);
             bindings.Unbind(VcfCutoff);
             return SaveControllerBindings(file, bindings);
         },
         // The cutoff goes back to its default controller unless its line lets go too.
         replaced("CC20 = VCF_CUTOFF\nCC74=NOT_A_KEY\n", "CC20=\nCC74=\n")},
    };
    for (const Case& c : cases) {
        TemporaryDirectory dir;
        const std::filesystem::path path = dir / "morvane.ini";
        WriteBytes(path, edited);
        ASSERT_TRUE(c.save(path).ok()) << c.name;
        EXPECT_EQ(ReadBytes(path), c.expected) << c.name;
    }
}

TEST(MidiBindingsFile, UnreadableFileIsAnErrorAndIsNotWritten) {
    TemporaryDirectory dir;
    std::filesystem::create_directory(dir / "morvane.ini");
    EXPECT_FALSE(LoadControllerBindings(dir / "morvane.ini").ok());
    EXPECT_FALSE(SaveControllerBindings(dir / "morvane.ini", ControllerBindings()).ok());
    EXPECT_TRUE(std::filesystem::is_directory(dir / "morvane.ini"));
}
