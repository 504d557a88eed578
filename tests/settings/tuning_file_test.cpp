#include "settings/tuning_file.h"

#include <gtest/gtest.h>

#include "engine/tuning.h"
#include "settings/ini_file.h"
#include "tests/settings/settings_fixture.h"

using namespace morvane;
using namespace morvane::fixture;

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
        StartedEngine program(dir / "morvane.ini");
        EXPECT_EQ(program.state->Tuning, c.tuning) << c.file;
        EXPECT_EQ(program.state->TuningRatio, static_cast<float>(c.tuning / 4400.0L)) << c.file;
    }
}

TEST(MasterTuning, SavingAtExitKeepsPresetsSavedMeanwhile) {
    TemporaryDirectory dir;
    WriteBytes(dir / "morvane.ini", "[SETUP]\nTUNING=4500\nOTHER=1\n");
    StartedEngine program(dir / "morvane.ini");
    ApplyTuning(*program.state, 4502);
    program.controls.Set(NoiseVol, 9);
    ASSERT_TRUE(program.bank.SavePreset(3).ok());

    ASSERT_TRUE(SaveTuning(*program.state, dir / "morvane.ini").ok());
    const IniFile file = IniFile::Parse(ReadBytes(dir / "morvane.ini"));
    EXPECT_EQ(file.ReadInteger("SETUP", "TUNING", -1), 4502);
    EXPECT_EQ(file.ReadInteger("SETUP", "OTHER", -1), 1);
    EXPECT_EQ(file.ReadInteger("PRESET3", "NOISE_VOL", -1), 9);
}
