#include "settings/midi_bindings_file.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "engine/tuning.h"
#include "settings/ini_file.h"
#include "tests/settings/settings_fixture.h"

using namespace morvane;
using namespace morvane::fixture;

namespace {

struct Kept {
    const char* section;
    const char* key;
    int value;
};

Status SavePreset(const std::filesystem::path& file) {
    StartedEngine program(file);
    program.controls.Set(NoiseVol, 9);
    return program.bank.PresetLoadSave(2, true);
}

Status SaveTuning(const std::filesystem::path& file) {
    StartedEngine program(file);
    ApplyTuning(*program.state, 4502);
    return LoadSaveTuning(*program.state, file, true);
}

std::function<Status(const std::filesystem::path&)> SaveBindings(const char* text) {
    return [text](const std::filesystem::path& file) {
        return SaveControllerBindings(file, ControllerBindings::FromText(text));
    };
}

} // namespace

// Each case writes a file, may save something into it, and reads the bindings and the
// other sections back.
TEST(MidiBindingsFile, SectionIsReadSavedAndLivesBesideThePresetsAndTheTuning) {
    const std::string defaults = ControllerBindings::Defaults().Text();
    struct Case {
        const char* name;
        const char* file; // nullptr: no settings file
        std::function<Status(const std::filesystem::path&)> save;
        std::string bindings;
        std::vector<Kept> kept;
    };
    const Case cases[] = {
        {"no file: the defaults", nullptr, nullptr, defaults, {}},
        {"no section: the defaults", "[SETUP]\nTUNING=4500\n", nullptr, defaults, {}},
        {"an empty section: no bindings", "[MIDI]\n", nullptr, "", {}},
        {"broken lines are skipped, later lines win",
         "[midi]\nCC20=VCF_CUTOFF\nCC128=ENV_DECAY\nCC1=ENV_DECAY\nCC30=WAVE1_TYPE\n"
         "CC31=NO_SUCH\nnot a binding\nCC=ENV_ATTACK\ncc21 = env_release\nCC22=VCF_CUTOFF\n",
         nullptr,
         "CC21=ENV_RELEASE\nCC22=VCF_CUTOFF\n",
         {}},
        {"a preset save keeps the section",
         "[MIDI]\nCC20=VCF_CUTOFF\n[SETUP]\nTUNING=4500\n",
         SavePreset,
         "CC20=VCF_CUTOFF\n",
         {{"PRESET2", "NOISE_VOL", 9}, {"SETUP", "TUNING", 4500}}},
        {"a tuning save keeps the section",
         "[MIDI]\nCC20=VCF_CUTOFF\n",
         SaveTuning,
         "CC20=VCF_CUTOFF\n",
         {{"SETUP", "TUNING", 4502}}},
        {"a bindings save replaces the section and keeps the others",
         "[SETUP]\nTUNING=4500\n[PRESET1]\nNOISE_VOL=7\n[MIDI]\nCC74=VCF_CUTOFF\nCC20=ENV_DECAY\n",
         SaveBindings("CC21=ENV_ATTACK\n"),
         "CC21=ENV_ATTACK\n",
         {{"SETUP", "TUNING", 4500}, {"PRESET1", "NOISE_VOL", 7}}},
        {"saving no bindings is not the defaults", nullptr, SaveBindings(""), "", {}},
        {"a fresh save of the defaults", nullptr, SaveBindings(defaults.c_str()), defaults, {}},
    };
    for (const Case& c : cases) {
        TemporaryDirectory dir;
        const std::filesystem::path path = dir / "morvane.ini";
        if (c.file)
            WriteBytes(path, c.file);
        if (c.save) {
            ASSERT_TRUE(c.save(path).ok()) << c.name;
        }
        const Result<ControllerBindings> bindings = LoadControllerBindings(path);
        ASSERT_TRUE(bindings.ok()) << c.name;
        EXPECT_EQ(bindings->Text(), c.bindings) << c.name;
        const IniFile file = IniFile::Parse(ReadBytes(path));
        for (const Kept& k : c.kept)
            EXPECT_EQ(file.ReadInteger(k.section, k.key, -1), k.value) << c.name << " " << k.key;
    }
}

TEST(MidiBindingsFile, UnreadableFileIsAnErrorAndIsNotWritten) {
    TemporaryDirectory dir;
    std::filesystem::create_directory(dir / "morvane.ini");
    EXPECT_FALSE(LoadControllerBindings(dir / "morvane.ini").ok());
    EXPECT_FALSE(SaveControllerBindings(dir / "morvane.ini", ControllerBindings()).ok());
    EXPECT_TRUE(std::filesystem::is_directory(dir / "morvane.ini"));
}
