#include "settings/tuning_file.h"

#include <gtest/gtest.h>

#include "settings/ini_file.h"
#include "tests/settings/settings_fixture.h"

using namespace morvane;
using namespace morvane::fixture;
namespace fs = std::filesystem;

TEST(MasterTuning, FreshInstallationIs440AndNotDirty) {
    TemporaryDirectory dir;
    StartedProgram program(dir / "morvane.ini");
    EXPECT_EQ(program.state->Tuning, 4400);
    EXPECT_EQ(program.state->TuningRatio, 1.0f);
    EXPECT_EQ(program.tuning.Label(), "440.0");
    EXPECT_EQ(program.tuning.Position(), 4400);
    EXPECT_FALSE(program.state->TuningDirty);
}

TEST(MasterTuning, ArrowClicksStepByTwoWithinTheRange) {
    TemporaryDirectory dir;
    StartedProgram program(dir / "morvane.ini");
    TuningControl& tuning = program.tuning;
    for (const char* label : {"440.2", "440.4", "440.6"}) {
        tuning.ClickUp();
        EXPECT_EQ(tuning.Label(), label);
    }
    EXPECT_TRUE(program.state->TuningDirty);

    tuning.SetTuning(4700);
    program.state->TuningDirty = false;
    tuning.ClickUp(); // at the end of the range: nothing moves, nothing runs
    EXPECT_EQ(program.state->Tuning, 4700);
    EXPECT_FALSE(program.state->TuningDirty);
    tuning.ClickDown();
    EXPECT_EQ(tuning.Label(), "469.8");
    EXPECT_EQ(program.state->TuningRatio, static_cast<float>(4698.0L / 4400));
}

TEST(MasterTuning, OddValueFromTheFileStaysOdd) {
    TemporaryDirectory dir;
    WriteBytes(dir / "morvane.ini", "[setup]\ntuning=4401\n");
    StartedProgram program(dir / "morvane.ini");
    EXPECT_EQ(program.tuning.Label(), "440.1");
    program.tuning.ClickUp();
    program.tuning.ClickUp();
    EXPECT_EQ(program.state->Tuning, 4405);
}

TEST(MasterTuning, ValueOutsideTheRangeIsKeptWhileTheControlStopsAtItsEnd) {
    TemporaryDirectory dir;
    WriteBytes(dir / "morvane.ini", "[SETUP]\nTUNING=5000\n");
    StartedProgram program(dir / "morvane.ini");
    EXPECT_EQ(program.state->Tuning, 5000);
    EXPECT_EQ(program.state->TuningRatio, 1.1363636f);
    EXPECT_EQ(program.tuning.Label(), "500.0");
    EXPECT_EQ(program.tuning.Position(), 4700);
    // The first click replaces the tuning by the control's position.
    program.tuning.ClickDown();
    EXPECT_EQ(program.state->Tuning, 4698);

    // A tuning of zero or below would stop the oscillators and is taken as 440.0 Hz.
    WriteBytes(dir / "morvane.ini", "[SETUP]\nTUNING=-20\n");
    StartedProgram negative(dir / "morvane.ini");
    EXPECT_EQ(negative.state->Tuning, 4400);
    EXPECT_EQ(negative.state->TuningRatio, 1.0f);
    EXPECT_EQ(negative.tuning.Label(), "440.0");
}

TEST(MasterTuning, ResetAt440StillMarksTheTuningChanged) {
    TemporaryDirectory dir;
    StartedProgram program(dir / "morvane.ini");
    program.tuning.btnTuningResetClick();
    EXPECT_EQ(program.state->Tuning, 4400);
    EXPECT_TRUE(program.state->TuningDirty);

    ASSERT_TRUE(LoadSaveTuning(*program.state, dir / "morvane.ini", true).ok());
    EXPECT_FALSE(program.state->TuningDirty);
    EXPECT_EQ(ReadBytes(dir / "morvane.ini"), "[SETUP]\r\nTUNING=4400\r\n\r\n");
}

TEST(MasterTuning, SavingAtExitKeepsPresetsSavedMeanwhile) {
    TemporaryDirectory dir;
    WriteBytes(dir / "morvane.ini", "[SETUP]\nTUNING=4500\nOTHER=1\n");
    StartedProgram program(dir / "morvane.ini");
    program.tuning.ClickUp();
    program.controls.Set(NoiseVol, 9);
    ASSERT_TRUE(program.presets.PresetLoadSave(3, true).ok());

    ASSERT_TRUE(LoadSaveTuning(*program.state, dir / "morvane.ini", true).ok());
    const IniFile file = IniFile::Parse(ReadBytes(dir / "morvane.ini"));
    EXPECT_EQ(file.ReadInteger("SETUP", "TUNING", -1), 4502);
    EXPECT_EQ(file.ReadInteger("SETUP", "OTHER", -1), 1);
    EXPECT_EQ(file.ReadInteger("PRESET3", "NOISE_VOL", -1), 9);
}

TEST(MasterTuning, FailedSaveKeepsTheTuningMarkedChanged) {
    TemporaryDirectory dir;
    WriteBytes(dir / "plain", "x");
    const fs::path unwritable = dir / "plain" / "morvane.ini";
    StartedProgram program(unwritable);
    program.tuning.ClickDown();
    const Status error = LoadSaveTuning(*program.state, unwritable, true);
    ASSERT_FALSE(error.ok());
    EXPECT_EQ(error.error().message, "ファイル " + unwritable.string() + " を作成できません.");
    EXPECT_TRUE(program.state->TuningDirty);
    EXPECT_EQ(ReadBytes(dir / "plain"), "x");
}
