#include "ui/tuning_control.h"

#include <gtest/gtest.h>

#include "engine/tuning.h"
#include "tests/ui/started_program.h"

using namespace morvane;
using namespace morvane::fixture;
namespace fs = std::filesystem;

// The control stands within its range and the label shows the tuning as loaded; a load
// leaves the tuning unchanged by the user.
TEST(MasterTuning, StartUpShowsTheTuningOfTheFile) {
    struct Case {
        const char* file;
        int tuning;
        const char* label;
    };
    for (Case c : {
             Case{"", 4400, "440.0"},
             Case{"[setup]\ntuning=4401\n", 4401, "440.1"},
             Case{"[SETUP]\nTUNING=99999999\n", 4700, "470.0"},
         }) {
        TemporaryDirectory dir;
        if (*c.file != '\0') {
            WriteBytes(dir / "morvane.ini", c.file);
        }
        StartedProgram program(dir / "morvane.ini");
        EXPECT_EQ(program.sound.Tuning, c.tuning) << c.file;
        EXPECT_EQ(program.sound.TuningRatio, static_cast<float>(c.tuning / 4400.0L)) << c.file;
        EXPECT_EQ(program.tuning.Position(), c.tuning) << c.file;
        EXPECT_EQ(program.tuning.Label(), c.label) << c.file;
        EXPECT_FALSE(program.tuning.Changed()) << c.file;
    }
}

TEST(MasterTuning, ArrowClicksStepByTwoWithinTheRange) {
    TemporaryDirectory dir;
    StartedProgram program(dir / "morvane.ini");
    TuningControl& tuning = program.tuning;
    for (const char* label : {"440.2", "440.4", "440.6"}) {
        tuning.ClickUp();
        EXPECT_EQ(tuning.Label(), label);
    }
    EXPECT_TRUE(program.tuning.Changed());

    tuning.SetTuning(4700);
    ASSERT_TRUE(tuning.SaveTuning(dir / "morvane.ini").ok());
    tuning.ClickUp(); // at the end of the range: nothing moves, nothing runs
    EXPECT_EQ(program.sound.Tuning, 4700);
    EXPECT_FALSE(program.tuning.Changed());
    tuning.ClickDown();
    EXPECT_EQ(tuning.Label(), "469.8");
    EXPECT_EQ(program.sound.TuningRatio, static_cast<float>(4698.0L / 4400));
}

TEST(MasterTuning, OddValueFromTheFileStaysOdd) {
    TemporaryDirectory dir;
    WriteBytes(dir / "morvane.ini", "[setup]\ntuning=4401\n");
    StartedProgram program(dir / "morvane.ini");
    EXPECT_EQ(program.tuning.Label(), "440.1");
    program.tuning.ClickUp();
    program.tuning.ClickUp();
    EXPECT_EQ(program.sound.Tuning, 4405);
}

TEST(MasterTuning, ResetAt440StillMarksTheTuningChanged) {
    TemporaryDirectory dir;
    StartedProgram program(dir / "morvane.ini");
    program.tuning.btnTuningResetClick();
    EXPECT_EQ(program.sound.Tuning, 4400);
    EXPECT_TRUE(program.tuning.Changed());

    ASSERT_TRUE(program.tuning.SaveTuning(dir / "morvane.ini").ok());
    EXPECT_FALSE(program.tuning.Changed());
    EXPECT_EQ(ReadBytes(dir / "morvane.ini"), "[SETUP]\r\nTUNING=4400\r\n\r\n");
}

TEST(MasterTuning, FailedSaveKeepsTheTuningMarkedChanged) {
    TemporaryDirectory dir;
    WriteBytes(dir / "plain", "x");
    const fs::path unwritable = dir / "plain" / "morvane.ini";
    StartedProgram program(unwritable);
    program.tuning.ClickDown();
    const Status error = program.tuning.SaveTuning(unwritable);
    ASSERT_FALSE(error.ok());
    EXPECT_EQ(error.error().message, "ファイル " + unwritable.string() + " を作成できません.");
    EXPECT_TRUE(program.tuning.Changed());
    EXPECT_EQ(ReadBytes(dir / "plain"), "x");
}
