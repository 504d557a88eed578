#include "engine/startup.h"

#include <gtest/gtest.h>

#include <memory>

using namespace morvane;

namespace {

// The engine as a fresh installation leaves it after start-up: no settings file.
struct FreshStart : ::testing::Test {
    void SetUp() override {
        s->EchoLine[5] = 1.0f;
        StartEngine(*s, controls, kDefaultTuning);
        LoadPreset(controls, DefaultPresetValues());
    }
    std::unique_ptr<SynthState> s = std::make_unique<SynthState>();
    SoundControls controls{*s};
};

} // namespace

TEST_F(FreshStart, TablesTuningAndRunningStateAreReady) {
    EXPECT_EQ(s->EchoLine[5], 0.0f);
    EXPECT_EQ(s->VoiceOrder[0], -1);
    EXPECT_EQ(s->Tables->LfoIncrementTable[1], 4.5351473e-05f);
    EXPECT_EQ(s->Tables->PitchTable[5400], 0.004988662f);
    EXPECT_EQ(s->Tables->ResonanceScaleTable[10000], 1.0f);
    EXPECT_EQ(s->Tuning, 4400);
    EXPECT_EQ(s->TuningRatio, 1.0f);
}

TEST_F(FreshStart, DefaultPresetSetsEveryParameter) {
    EXPECT_EQ(s->Osc1Wave, 1);
    EXPECT_EQ(s->Osc2Wave, 0);
    EXPECT_EQ(s->Osc1Octave, 1);
    EXPECT_EQ(s->Osc2Octave, 1);
    EXPECT_EQ(s->Osc1Volume, 1.0f);
    EXPECT_EQ(s->Osc2Width, 0.5f);
    EXPECT_EQ(s->NoiseLevel, 0);
    EXPECT_FALSE(s->ChorusChecked);
    EXPECT_EQ(s->ModDepth, 20);
    EXPECT_EQ(s->ModFreq, 10);
    EXPECT_FALSE(s->ModSquare);
    EXPECT_EQ(controls.Position(ModType), 0); // triangle checked
    EXPECT_FALSE(s->ModAlwaysOn);
    EXPECT_EQ(s->Vca.AttackTime, 26 * 220.5f);
    EXPECT_EQ(s->Vcf.SustainLevel, 0.5f);
    EXPECT_EQ(s->Vcf.ReleaseTime, 51 * 220.5f);
    EXPECT_FALSE(s->UseVcfEnvelope);
    EXPECT_EQ(s->CutoffHz, 348);
    EXPECT_EQ(s->VcfIntensity, 50);
    EXPECT_EQ(s->Resonance, 0.5f);
    EXPECT_EQ(s->DistortionLevel, 0);
    EXPECT_EQ(s->DistortionVolume, 50);
}

TEST_F(FreshStart, EveryLabelShowsItsControl) {
    EXPECT_EQ(controls.Label(Wave1Vol), "100");
    EXPECT_EQ(controls.Label(Wave2Width), "50");
    EXPECT_EQ(controls.Label(ModDepth), "20%");
    EXPECT_EQ(controls.Label(ModFreq), "10Hz");
    EXPECT_EQ(controls.Label(EnvRelease), "50");
    EXPECT_EQ(controls.Label(VcfCutoff), "348");
    EXPECT_EQ(controls.Label(VcfResonance), "0.50");
    EXPECT_EQ(controls.Label(DistortionLevel), "0");
    EXPECT_EQ(controls.Label(EchoDepth), "0%");
    EXPECT_EQ(controls.Label(EchoTime), "100ms");
    for (int i = 0; i < kControlCount; ++i) {
        auto id = static_cast<ControlId>(i);
        EXPECT_EQ(controls.Label(id).empty(), !Describe(id).hasLabel) << Describe(id).key;
    }
}

TEST_F(FreshStart, APresetLeavesTheEchoAlone) {
    controls.Set(EchoDepth, 60);
    PresetValues values = DefaultPresetValues();
    values[VcfCutoff] = 100;
    LoadPreset(controls, values);
    EXPECT_EQ(s->CutoffHz, 11025);
    EXPECT_EQ(s->EchoDepth, 60);
    EXPECT_EQ(s->EchoTimeMs, 100);
}

// Everything a preset leaves to the sound is set by it: two players that played other
// sounds before sound alike once they load the same preset.
TEST_F(FreshStart, APresetSetsTheWholeSoundButTheEcho) {
    auto other = std::make_unique<SynthState>();
    SoundControls otherControls{*other};
    StartEngine(*other, otherControls, kDefaultTuning);
    PresetValues highest{};
    for (int i = 0; i < kPresetControlCount; ++i)
        highest[i] = Describe(static_cast<ControlId>(i)).maximum;
    LoadPreset(otherControls, highest);
    ASSERT_FALSE(static_cast<const SoundParameters&>(*other) == *s);

    LoadPreset(otherControls, DefaultPresetValues());
    EXPECT_TRUE(static_cast<const SoundParameters&>(*other) == *s);
}

// The audio callback loads a preset into the sound alone; it must end where the panel's
// load ends, for stored values in and out of range.
TEST_F(FreshStart, APresetLoadedIntoTheSoundAloneSoundsAsThePanelsLoad) {
    PresetValues outOfRange{};
    outOfRange.fill(-5);
    outOfRange[VcfCutoff] = 400;
    outOfRange[ModType] = 7;
    PresetValues highest{};
    for (int i = 0; i < kPresetControlCount; ++i)
        highest[i] = Describe(static_cast<ControlId>(i)).maximum;
    for (const PresetValues& values : {DefaultPresetValues(), highest, outOfRange}) {
        SoundParameters alone = *s;
        LoadPresetSound(alone, values);
        LoadPreset(controls, values);
        EXPECT_TRUE(alone == static_cast<const SoundParameters&>(*s));
    }
}
