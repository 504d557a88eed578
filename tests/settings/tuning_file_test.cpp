#include "settings/tuning_file.h"

#include <gtest/gtest.h>

#include "engine/tuning.h"
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

// The file's value as the control could have set it: out-of-range values go to the
// nearer end, and what would stop the oscillators or is no number at all is 440.0 Hz.
TEST(MasterTuning, FileValuesAreTakenIntoTheControlsRange) {
    struct Case {
        const char* file;
        int tuning;
    };
    for (Case c : {
             Case{"TUNING=4300", 4300},
             Case{"TUNING=4700", 4700},
             Case{"TUNING=0x1194", 4500},
             Case{"TUNING=4299", 4300},
             Case{"TUNING=1", 4300},
             Case{"TUNING=4701", 4700},
             Case{"TUNING=99999999", 4700},
             Case{"TUNING=2147483647", 4700},
             Case{"TUNING=0", 4400},
             Case{"TUNING=-20", 4400},
             Case{"TUNING=-2147483648", 4400},
             Case{"TUNING=440.5", 4400},
             Case{"TUNING=", 4400},
             Case{"OTHER=1", 4400},
         }) {
        TemporaryDirectory dir;
        WriteBytes(dir / "morvane.ini", std::string("[SETUP]\n") + c.file + "\n");
        StartedProgram program(dir / "morvane.ini");
        EXPECT_EQ(program.state->Tuning, c.tuning) << c.file;
        EXPECT_EQ(program.state->TuningRatio, static_cast<float>(c.tuning / 4400.0L)) << c.file;
        EXPECT_EQ(program.tuning.Position(), c.tuning) << c.file;
        EXPECT_EQ(program.tuning.Label(), TuningLabel(c.tuning)) << c.file;
    }
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
