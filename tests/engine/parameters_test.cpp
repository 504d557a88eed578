#include "engine/parameters.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace morvane;

namespace {

// Every label the handlers write, in order: a label write is the sign that a handler ran.
struct RecordingPanel : ControlListener {
    std::vector<ControlId> handlerRuns;
    std::vector<std::pair<ControlId, int>> moves;
    void PositionChanged(ControlId id, int position) override { moves.emplace_back(id, position); }
    void LabelChanged(ControlId id, const std::string&) override { handlerRuns.push_back(id); }
};

class Controls : public ::testing::Test {
protected:
    void SetUp() override { controls.SetListener(&panel); }

    std::unique_ptr<SynthState> s = std::make_unique<SynthState>();
    SoundControls controls{*s};
    RecordingPanel panel;
};

} // namespace

TEST_F(Controls, CutoffIsExponentialFrom11HzTo11025Hz) {
    struct Row {
        int p;
        std::int32_t hz;
        const char* label;
    };
    // 3650 Hz divides to 3.65, which rounds up only when the quotient is kept extended.
    for (Row r : {Row{0, 11, "11"}, Row{1, 11, "11"}, Row{32, 100, "100"}, Row{50, 348, "348"},
                  Row{65, 982, "982"}, Row{66, 1052, "1.1k"}, Row{75, 1960, "2.0k"},
                  Row{84, 3650, "3.7k"}, Row{99, 10289, "10.3k"}, Row{100, 11025, "11.0k"}}) {
        controls.ApplyPresetValue(VcfCutoff, r.p);
        EXPECT_EQ(s->CutoffHz, r.hz) << r.p;
        EXPECT_EQ(controls.Label(VcfCutoff), r.label) << r.p;
    }
}

TEST_F(Controls, EnvelopeTimesAreHundredthsOfASecondPlusOne) {
    for (int p = 0; p <= 100; ++p) {
        for (ControlId id :
             {EnvAttack, EnvDecay, EnvRelease, EnvVcfAttack, EnvVcfDecay, EnvVcfRelease})
            controls.ApplyPresetValue(id, p);
        float expected = (p + 1) * 220.5f;
        EXPECT_EQ(s->Vca.AttackTime, expected);
        EXPECT_EQ(s->Vca.DecayTime, expected);
        EXPECT_EQ(s->Vca.ReleaseTime, expected);
        EXPECT_EQ(s->Vcf.AttackTime, expected);
        EXPECT_EQ(s->Vcf.DecayTime, expected);
        EXPECT_EQ(s->Vcf.ReleaseTime, expected);
        EXPECT_EQ(s->Vcf.ReleasePos, p);
    }
    EXPECT_EQ(s->Vca.AttackTime, 22270.5f);
    EXPECT_EQ(controls.Label(EnvAttack), "100"); // the position, not the time
    controls.Set(EnvAttack, 0);
    EXPECT_EQ(s->Vca.AttackTime, 220.5f);
}

TEST_F(Controls, FractionsAreRoundedToSingleOnce) {
    controls.Set(EnvSustain, 50);
    controls.Set(Wave2Width, 33);
    controls.Set(Wave1Vol, 7);
    EXPECT_EQ(s->Vca.SustainLevel, 0.5f);
    EXPECT_EQ(s->Osc2WidthPos, 33);
    EXPECT_EQ(s->Osc2Width, 0.33f);
    EXPECT_EQ(s->Osc1Volume, 0.07f);
}

TEST_F(Controls, ResonanceStopsAt090) {
    controls.ApplyPresetValue(VcfResonance, 100);
    EXPECT_EQ(controls.Position(VcfResonance), 90);
    EXPECT_EQ(s->Resonance, 0.9f);
    EXPECT_EQ(controls.Label(VcfResonance), "0.90");
    controls.Set(VcfResonance, 50);
    EXPECT_EQ(controls.Label(VcfResonance), "0.50");
    controls.Set(VcfResonance, 29);
    EXPECT_EQ(controls.Label(VcfResonance), "0.29");
}

TEST_F(Controls, LabelsCarryTheirUnits) {
    controls.Set(ModDepth, 20);
    controls.Set(ModFreq, 10);
    controls.Set(EchoTime, 100);
    controls.Set(EchoDepth, 60);
    EXPECT_EQ(controls.Label(ModDepth), "20%");
    EXPECT_EQ(controls.Label(ModFreq), "10Hz");
    EXPECT_EQ(controls.Label(EchoTime), "100ms");
    EXPECT_EQ(controls.Label(EchoDepth), "60%");
}

TEST_F(Controls, SlidersClampToTheirRange) {
    controls.Set(ModFreq, 5);
    controls.Set(ModFreq, 0);
    EXPECT_EQ(s->ModFreq, 1);
    EXPECT_EQ(controls.Label(ModFreq), "1Hz");
    controls.Set(EchoTime, 100);
    controls.Set(EchoTime, 10);
    EXPECT_EQ(s->EchoTimeMs, 50);
    controls.Set(EchoTime, 500);
    EXPECT_EQ(s->EchoTimeMs, 200);
}

TEST_F(Controls, OctaveItemsRunFromHighToLow) {
    controls.Set(Wave1Octave, 0);
    EXPECT_EQ(s->Osc1Octave, 2);
    controls.Set(Wave2Octave, 2);
    EXPECT_EQ(s->Osc2Octave, 0);
    controls.Set(Wave1Octave, 9);
    EXPECT_EQ(controls.Position(Wave1Octave), 2);
    EXPECT_EQ(s->Osc1Octave, 0);
    // Unselecting runs nothing, and a handler run with nothing selected stores nothing.
    controls.Set(Wave1Octave, -1);
    controls.RunHandler(Wave1Octave);
    EXPECT_EQ(controls.Position(Wave1Octave), kNothingSelected);
    EXPECT_EQ(s->Osc1Octave, 0);
}

TEST_F(Controls, LfoShapeFollowsTheButtonCheckedLast) {
    controls.Set(ModType, 1);
    EXPECT_TRUE(s->ModSquare);
    s->ModSquare = false;
    controls.Set(ModType, 1); // already checked: its handler does not run
    EXPECT_FALSE(s->ModSquare);
    controls.Set(ModType, 0);
    EXPECT_FALSE(s->ModSquare);
    controls.Set(ModType, 1);
    EXPECT_TRUE(s->ModSquare);
    EXPECT_EQ(controls.Position(ModType), 1);
}

TEST_F(Controls, SettingAnUnchangedPositionRunsNoHandler) {
    controls.Set(NoiseVol, 40);
    s->NoiseLevel = 0;
    panel.handlerRuns.clear();
    panel.moves.clear();
    controls.Set(NoiseVol, 40);
    EXPECT_EQ(s->NoiseLevel, 0);
    EXPECT_TRUE(panel.handlerRuns.empty());
    EXPECT_TRUE(panel.moves.empty());

    // The preset loader runs it anyway, so the engine follows an unchanged value.
    controls.ApplyPresetValue(NoiseVol, 40);
    EXPECT_EQ(s->NoiseLevel, 40);
    EXPECT_EQ(panel.handlerRuns, (std::vector<ControlId>{NoiseVol}));
}

TEST_F(Controls, PresetValuesAreAppliedPerKindOfControl) {
    controls.ApplyPresetValue(Wave1Type, 7); // above the last item: the last item
    EXPECT_EQ(s->Osc1Wave, 3);
    controls.ApplyPresetValue(Wave1Octave, -1); // nothing selected: the key's default, MID
    EXPECT_EQ(controls.Position(Wave1Octave), 1);
    EXPECT_EQ(s->Osc1Octave, 1);
    controls.ApplyPresetValue(Wave2Type, -3);
    EXPECT_EQ(s->Osc2Wave, 0);

    controls.ApplyPresetValue(ModType, 5);
    EXPECT_TRUE(s->ModSquare);
    controls.ApplyPresetValue(ModOn, 2);
    EXPECT_EQ(controls.Position(ModOn), 1);
    EXPECT_TRUE(s->ModAlwaysOn);
    controls.ApplyPresetValue(UseVcfEnvelope, 1);
    EXPECT_TRUE(s->UseVcfEnvelope);
    controls.ApplyPresetValue(Wave2Detune, 1);
    EXPECT_TRUE(s->ChorusChecked);
    controls.Set(Wave2Detune, 0);
    EXPECT_FALSE(s->ChorusChecked);
}

TEST_F(Controls, StartUpMovesRunEveryHandler) {
    controls.MoveStartUpSliders();
    EXPECT_EQ(panel.handlerRuns,
              (std::vector<ControlId>{EchoDepth, EchoDepth, EchoTime, DistortionLevel,
                                      DistortionLevel, DistortionVolume}));
    EXPECT_EQ(s->EchoDepth, 0);
    EXPECT_EQ(controls.Label(EchoDepth), "0%");
    EXPECT_EQ(s->EchoTimeMs, 100);
    EXPECT_EQ(controls.Label(EchoTime), "100ms");
    EXPECT_EQ(s->DistortionLevel, 0);
    EXPECT_EQ(s->DistortionVolume, 50);
    EXPECT_EQ(controls.Label(DistortionVolume), "50");
}

TEST(ControlTable, KeysAreFoundInAnyLetterCase) {
    EXPECT_EQ(FindControl("wave1_type"), Wave1Type);
    EXPECT_EQ(FindControl("Distortion_Volume"), DistortionVolume);
    EXPECT_EQ(FindControl("ECHO_TIME"), EchoTime);
    EXPECT_EQ(FindControl("TUNING"), std::nullopt);
    EXPECT_EQ(FindControl("WAVE1_TYP"), std::nullopt);
    for (int i = 0; i < kControlCount; ++i)
        EXPECT_EQ(FindControl(Describe(static_cast<ControlId>(i)).key), i);
}
