#include "tools/render_start.h"

#include <gtest/gtest.h>

#include "render_fixture.h"

using namespace morvane;
using namespace morvane::render_fixture;

// The start sound is the program's after start-up; the presets are every slot as a load
// finds it, for the program changes that come later.
TEST(RenderStart, TakesTheTuningAndPresetsOfTheSettingsFileOrTheDefaults) {
    ScratchDirectory dir;
    std::string ini = dir / "morvane.ini";
    WriteBytes(ini, "[SETUP]\r\nTUNING=4500\r\n[PRESET2]\r\nVCF_CUTOFF=100\r\nWAVE1_OCTAVE=0\r\n"
                    "[MIDI]\r\nVELOCITY_CUTOFF=40\r\nBEND_RANGE=30\r\n");

    Result<RenderStart> slot2 = StartFrom(ini, 2);
    ASSERT_TRUE(slot2.ok());
    EXPECT_EQ(slot2->sound.Tuning, 4500);
    EXPECT_EQ(slot2->sound.CutoffHz, 11025);
    EXPECT_EQ(slot2->sound.Osc1Octave, 2);
    EXPECT_EQ(slot2->sound.EchoTimeMs, 100);
    EXPECT_EQ(slot2->playing.VelocityToVolume, 100); // the MIDI section's, clamped
    EXPECT_EQ(slot2->playing.VelocityToCutoff, 40);
    EXPECT_EQ(slot2->playing.BendRange, 24);
    PresetValues expected = DefaultPresetValues();
    expected[VcfCutoff] = 100;
    expected[Wave1Octave] = 0;
    EXPECT_EQ(slot2->presets[2], expected);
    EXPECT_EQ(slot2->presets[0], DefaultPresetValues());

    Result<RenderStart> slot0 = StartFrom(ini, 0);
    ASSERT_TRUE(slot0.ok());
    EXPECT_EQ(slot0->sound.CutoffHz, 348);

    const RenderStart fresh = FreshStart();
    EXPECT_EQ(fresh.sound.Tuning, kDefaultTuning);
    EXPECT_EQ(fresh.sound.CutoffHz, 348);
    for (const PresetValues& preset : fresh.presets)
        EXPECT_EQ(preset, DefaultPresetValues());

    EXPECT_FALSE(StartFrom(dir / "", 0).ok());
}
