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
    StartedProgram program(SettingsFilePath(dir.path()));
    EXPECT_FALSE(fs::exists(dir / "morvane.ini")) << "a load never writes the file";
    ExpectDefaultPreset(program.controls);

    ASSERT_TRUE(program.presets.PresetLoadSave(0, true).ok());
    std::vector<std::string> lines = {"[PRESET0]"};
    lines.insert(lines.end(), kFreshPresetLines.begin(), kFreshPresetLines.end());
    lines.push_back("");
    EXPECT_EQ(ReadBytes(dir / "morvane.ini"), CrLfLines(lines));
}

TEST(PresetBank, SaveThenLoadRestoresEveryControlAndTheSound) {
    TemporaryDirectory dir;
    StartedProgram saver(dir / "morvane.ini");
    const int values[kPresetControlCount] = {3, 2,   0, 2,  77, 33, 10, 90, 5, 1,  60, 17, 1,  1,
                                             0, 100, 7, 99, 3,  4,  5,  6,  1, 73, 12, 88, 40, 70};
    for (int i = 0; i < kPresetControlCount; ++i) {
        saver.controls.Set(static_cast<ControlId>(i), values[i]);
    }
    ASSERT_TRUE(saver.presets.PresetLoadSave(5, true).ok());

    StartedProgram loader(dir / "morvane.ini");
    ASSERT_TRUE(loader.PressFunctionKey(5).ok());
    for (int i = 0; i < kPresetControlCount; ++i) {
        const auto id = static_cast<ControlId>(i);
        EXPECT_EQ(loader.controls.Position(id), values[i]) << Describe(id).key;
        EXPECT_EQ(loader.controls.Label(id), saver.controls.Label(id)) << Describe(id).key;
    }
    EXPECT_EQ(PresetSound(*loader.state), PresetSound(*saver.state));
}

TEST(PresetBank, SavingKeepsOtherSectionsAndDropsCommentsAndBlankLines) {
    TemporaryDirectory dir;
    WriteBytes(dir / "morvane.ini", "; edited by hand\n"
                                    "[SETUP]\n"
                                    "TUNING=4410\n"
                                    "\n"
                                    "[PRESET1]\n"
                                    "; a warm pad\n"
                                    "WAVE1_TYPE=3\n"
                                    "[preset0]\n"
                                    "wave1_type=2\n"
                                    "  mine = kept  \n");
    StartedProgram program(dir / "morvane.ini");
    EXPECT_EQ(program.controls.Position(Wave1Type), 2);
    ASSERT_TRUE(program.presets.PresetLoadSave(0, true).ok());

    std::vector<std::string> preset0 = kFreshPresetLines;
    preset0[0] = "WAVE1_TYPE=2";
    preset0.insert(preset0.begin() + 1, "mine=kept");
    EXPECT_EQ(ReadBytes(dir / "morvane.ini"), CrLfLines({"[SETUP]", "TUNING=4410", "", "[PRESET1]",
                                                         "WAVE1_TYPE=3", "", "[preset0]"}) +
                                                  CrLfLines(preset0) + "\r\n");
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
    StartedProgram program(dir / "morvane.ini");
    ASSERT_TRUE(program.PressFunctionKey(2).ok());
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
    StartedProgram program(dir / "morvane.ini");
    EXPECT_EQ(program.controls.Position(EnvAttack), 99);
    ASSERT_TRUE(program.PressFunctionKey(6).ok());
    ExpectDefaultPreset(program.controls);
    EXPECT_FALSE(program.state->ModAlwaysOn);
    EXPECT_EQ(ReadBytes(dir / "morvane.ini"), text);
}

TEST(PresetBank, SaveModeCaptionsSelectionAndCancel) {
    TemporaryDirectory dir;
    StartedProgram program(dir / "morvane.ini");
    PresetBank& bank = program.presets;
    EXPECT_STREQ(bank.SaveButtonCaption(), "音色保存");
    EXPECT_STREQ(bank.PresetGroupCaption(), "音色プリセット");
    EXPECT_EQ(bank.SelectedSlot(), 0);

    bank.ButtonPresetSaveClick();
    EXPECT_TRUE(bank.SaveMode());
    EXPECT_STREQ(bank.SaveButtonCaption(), "キャンセル");
    EXPECT_STREQ(bank.PresetGroupCaption(), "保存先を選択してください");
    EXPECT_EQ(bank.SelectedSlot(), kNothingSelected);

    // F3 in save mode writes the panel into slot 2 and ends save mode.
    program.controls.Set(NoiseVol, 42);
    ASSERT_TRUE(program.PressFunctionKey(2).ok());
    EXPECT_FALSE(bank.SaveMode());
    EXPECT_STREQ(bank.SaveButtonCaption(), "音色保存");
    EXPECT_EQ(bank.SelectedSlot(), 2);
    EXPECT_EQ(program.controls.Position(NoiseVol), 42);
    EXPECT_EQ(IniFile::Parse(ReadBytes(dir / "morvane.ini")).ReadInteger("PRESET2", "NOISE_VOL", 0),
              42);

    // Cancel: no slot selected, nothing saved, the sound as it was.
    const std::string saved = ReadBytes(dir / "morvane.ini");
    program.controls.Set(NoiseVol, 7);
    bank.ButtonPresetSaveClick();
    bank.ButtonPresetSaveClick();
    EXPECT_FALSE(bank.SaveMode());
    EXPECT_STREQ(bank.PresetGroupCaption(), "音色プリセット");
    EXPECT_EQ(bank.SelectedSlot(), kNothingSelected);
    EXPECT_EQ(program.state->NoiseLevel, 7);
    EXPECT_EQ(ReadBytes(dir / "morvane.ini"), saved);
}

TEST(PresetBank, ClickOnTheSelectedSlotDoesNothingButItsFunctionKeyReloads) {
    TemporaryDirectory dir;
    WriteBytes(dir / "morvane.ini", "[PRESET4]\nNOISE_VOL=30\n");
    StartedProgram program(dir / "morvane.ini");
    ASSERT_TRUE(program.presets.SelectSlot(4).ok());
    EXPECT_EQ(program.state->NoiseLevel, 30);

    program.controls.Set(NoiseVol, 80);
    ASSERT_TRUE(program.presets.SelectSlot(4).ok());
    EXPECT_EQ(program.state->NoiseLevel, 80);
    ASSERT_TRUE(program.PressFunctionKey(4).ok());
    EXPECT_EQ(program.state->NoiseLevel, 30);
}

TEST(PresetBank, FailedSaveIsReportedWithSaveModeAlreadyOff) {
    TemporaryDirectory dir;
    WriteBytes(dir / "plain", "x");
    const fs::path unwritable = dir / "plain" / "morvane.ini";
    StartedProgram program(unwritable);
    program.presets.ButtonPresetSaveClick();
    const Status error = program.presets.SelectSlot(1);
    ASSERT_FALSE(error.ok());
    EXPECT_EQ(error.error().message, "ファイル " + unwritable.string() + " を作成できません.");
    EXPECT_FALSE(program.presets.SaveMode());
}

TEST(PresetBank, UnreadableFileStopsLoadAndSaveBeforeAnyChange) {
    TemporaryDirectory dir;
    StartedProgram program(dir / "morvane.ini");
    program.controls.Set(EnvDecay, 3);
    fs::create_directory(dir / "morvane.ini");
    const std::string message = "ファイル " + (dir / "morvane.ini").string() + " は開けません.";

    const Status load = program.PressFunctionKey(1);
    ASSERT_FALSE(load.ok());
    EXPECT_EQ(load.error().message, message);
    EXPECT_EQ(program.controls.Position(EnvDecay), 3);

    const Status save = program.presets.PresetLoadSave(1, true);
    ASSERT_FALSE(save.ok());
    EXPECT_EQ(save.error().message, message);
}

TEST(PresetBank, ReadOnlyFileIsLeftByteForByte) {
    TemporaryDirectory dir;
    const fs::path file = dir / "morvane.ini";
    const std::string text = "; mine\n[PRESET0]\nWAVE1_TYPE=2\n";
    WriteBytes(file, text);
    fs::permissions(file, fs::perms::owner_read);
    StartedProgram program(file);
    const Status error = program.presets.PresetLoadSave(0, true);
    ASSERT_FALSE(error.ok());
    EXPECT_EQ(error.error().message, "ファイル " + file.string() + " を作成できません.");
    EXPECT_EQ(ReadBytes(file), text);
}
