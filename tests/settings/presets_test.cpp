#include "settings/presets.h"

#include <gtest/gtest.h>

#include <vector>

#include "settings/ini_file.h"
#include "tests/settings/settings_fixture.h"

using namespace morvane;
using namespace morvane::fixture;
namespace fs = std::filesystem;

namespace {

// The lines of slot 0 as a fresh installation saves them, each to be ended by CR LF.
const std::vector<std::string> kFreshPresetLines = {
    "WAVE1_TYPE=1",       "WAVE2_TYPE=0",       "WAVE1_OCTAVE=1",     "WAVE2_OCTAVE=1",
    "WAVE1_VOL=100",      "WAVE2_VOL=100",      "WAVE1_WIDTH=50",     "WAVE2_WIDTH=50",
    "NOISE_VOL=0",        "WAVE2_DETUNE=0",     "MOD_DEPTH=20",       "MOD_FREQ=10",
    "MOD_TYPE=0",         "MOD_ON=0",           "ENV_ATTACK=25",      "ENV_DECAY=25",
    "ENV_SUSTAIN=50",     "ENV_RELEASE=50",     "ENV_VCF_ATTACK=25",  "ENV_VCF_DECAY=25",
    "ENV_VCF_SUSTAIN=50", "ENV_VCF_RELEASE=50", "USE_VCF_ENVELOPE=0", "VCF_CUTOFF=50",
    "VCF_INTENSITY=50",   "VCF_RESONANCE=50",   "DISTORTION_LEVEL=0", "DISTORTION_VOLUME=50",
};

std::string CrLfLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

// Every synth-state field that a preset load sets through the handlers.
std::vector<double> PresetSound(const SynthState& s) {
    std::vector<double> fields;
    for (const EnvelopeParameters* e : {&s.Vca, &s.Vcf}) {
        for (int position : {e->AttackPos, e->DecayPos, e->SustainPos, e->ReleasePos}) {
            fields.push_back(position);
        }
        for (float value : {e->AttackTime, e->DecayTime, e->SustainLevel, e->ReleaseTime}) {
            fields.push_back(value);
        }
    }
    for (int value : {int(s.UseVcfEnvelope), s.CutoffHz, s.VcfIntensity, s.NoiseLevel,
                      s.Osc1WidthPos, s.Osc2WidthPos, s.DistortionLevel, s.DistortionVolume,
                      s.Osc1Wave, s.Osc2Wave, s.Osc1Octave, s.Osc2Octave, s.ModDepth, s.ModFreq,
                      int(s.ModAlwaysOn), int(s.ModSquare), int(s.ChorusChecked)}) {
        fields.push_back(value);
    }
    for (float value : {s.Resonance, s.Osc1Volume, s.Osc2Volume, s.Osc1Width, s.Osc2Width}) {
        fields.push_back(value);
    }
    return fields;
}

void ExpectDefaultPreset(const SoundControls& controls) {
    for (int i = 0; i < kPresetControlCount; ++i) {
        const auto id = static_cast<ControlId>(i);
        EXPECT_EQ(controls.Position(id), Describe(id).presetDefault) << Describe(id).key;
    }
}

} // namespace

TEST(PresetBank, FreshSaveOfSlotZeroWritesTheDefaults) {
    TemporaryDirectory dir;
    StartedEngine program(SettingsFilePath(dir.path()));
    EXPECT_FALSE(fs::exists(dir / "morvane.ini")) << "a load never writes the file";
    ExpectDefaultPreset(program.controls);

    ASSERT_TRUE(program.bank.SavePreset(0).ok());
    std::vector<std::string> lines = {"[PRESET0]"};
    lines.insert(lines.end(), kFreshPresetLines.begin(), kFreshPresetLines.end());
    lines.push_back("");
    EXPECT_EQ(ReadBytes(dir / "morvane.ini"), CrLfLines(lines));
}

TEST(PresetBank, SaveThenLoadRestoresEveryControlAndTheSound) {
    TemporaryDirectory dir;
    StartedEngine saver(dir / "morvane.ini");
    const int values[kPresetControlCount] = {3, 2,   0, 2,  77, 33, 10, 90, 5, 1,  60, 17, 1,  1,
                                             0, 100, 7, 99, 3,  4,  5,  6,  1, 73, 12, 88, 40, 70};
    for (int i = 0; i < kPresetControlCount; ++i) {
        saver.controls.Set(static_cast<ControlId>(i), values[i]);
    }
    ASSERT_TRUE(saver.bank.SavePreset(5).ok());

    StartedEngine loader(dir / "morvane.ini");
    ASSERT_TRUE(loader.bank.LoadPreset(5).ok());
    for (int i = 0; i < kPresetControlCount; ++i) {
        const auto id = static_cast<ControlId>(i);
        EXPECT_EQ(loader.controls.Position(id), values[i]) << Describe(id).key;
        EXPECT_EQ(loader.controls.Label(id), saver.controls.Label(id)) << Describe(id).key;
    }
    EXPECT_EQ(PresetSound(*loader.state), PresetSound(*saver.state));
}

TEST(PresetBank, LoadingReadsAnyLetterCaseAndLetsTheControlsClamp) {
    TemporaryDirectory dir;
    WriteBytes(dir / "morvane.ini", "[Preset2]\r\n"
                                    "wave1_type=7\r\n"
                                    "WAVE1_OCTAVE=0\r\n"
                                    "WAVE2_OCTAVE=-1\r\n"
                                    "WAVE1_VOL=loud\r\n"
                                    "NOISE_VOL=0x10\r\n"
                                    "MOD_FREQ=0\r\n"
                                    "MOD_TYPE=5\r\n"
                                    "MOD_ON=2\r\n"
                                    "VCF_RESONANCE=100\r\n");
    StartedEngine program(dir / "morvane.ini");
    ASSERT_TRUE(program.bank.LoadPreset(2).ok());
    const SoundControls& c = program.controls;
    const SynthState& s = *program.state;
    EXPECT_EQ(c.Position(Wave1Type), 3);
    EXPECT_EQ(s.Osc1Wave, 3);
    EXPECT_EQ(c.Position(Wave1Octave), 0); // "HIGH" is item 0 ...
    EXPECT_EQ(s.Osc1Octave, 2);            // ... and octave 2 for the engine
    EXPECT_EQ(c.Position(Wave2Octave), 1); // nothing selected would be octave 3
    EXPECT_EQ(s.Osc2Octave, 1);
    EXPECT_EQ(c.Position(Wave1Vol), 100);
    EXPECT_EQ(c.Position(NoiseVol), 16);
    EXPECT_EQ(c.Position(ModFreq), 1);
    EXPECT_TRUE(s.ModSquare);
    EXPECT_TRUE(s.ModAlwaysOn);
    EXPECT_EQ(c.Position(VcfResonance), 90);
    EXPECT_EQ(c.Label(VcfResonance), "0.90");
}

TEST(PresetBank, MissingSectionLoadsTheDefaultsAndLoadsNeverWrite) {
    TemporaryDirectory dir;
    const std::string text = "[PRESET0]\r\nWAVE1_TYPE=3\r\nENV_ATTACK=99\r\nMOD_ON=1\r\n\r\n";
    WriteBytes(dir / "morvane.ini", text);
    StartedEngine program(dir / "morvane.ini");
    EXPECT_EQ(program.controls.Position(EnvAttack), 99);
    ASSERT_TRUE(program.bank.LoadPreset(6).ok());
    ExpectDefaultPreset(program.controls);
    EXPECT_FALSE(program.state->ModAlwaysOn);
    EXPECT_EQ(ReadBytes(dir / "morvane.ini"), text);
}

TEST(PresetBank, UnreadableFileStopsLoadAndSaveBeforeAnyChange) {
    TemporaryDirectory dir;
    StartedEngine program(dir / "morvane.ini");
    program.controls.Set(EnvDecay, 3);
    fs::create_directory(dir / "morvane.ini");
    const std::string message = "ファイル " + (dir / "morvane.ini").string() + " は開けません.";

    const Status load = program.bank.LoadPreset(1);
    ASSERT_FALSE(load.ok());
    EXPECT_EQ(load.error().message, message);
    EXPECT_EQ(program.controls.Position(EnvDecay), 3);

    const Status save = program.bank.SavePreset(1);
    ASSERT_FALSE(save.ok());
    EXPECT_EQ(save.error().message, message);
}

TEST(PresetBank, ReadOnlyFileIsLeftByteForByte) {
    TemporaryDirectory dir;
    const fs::path file = dir / "morvane.ini";
    const std::string text = "; mine\n[PRESET0]\nWAVE1_TYPE=2\n";
    WriteBytes(file, text);
    fs::permissions(file, fs::perms::owner_read);
    StartedEngine program(file);
    const Status error = program.bank.SavePreset(0);
    ASSERT_FALSE(error.ok());
    EXPECT_EQ(error.error().message, "ファイル " + file.string() + " を作成できません.");
    EXPECT_EQ(ReadBytes(file), text);
}
