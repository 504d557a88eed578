#include "engine/synth_state.h"

#include <gtest/gtest.h>

#include <memory>

using namespace morvane;

namespace {

std::shared_ptr<const SynthTables> WithTables() {
    return SharedSynthTables();
}

} // namespace

TEST(LookupTables, LfoIncrements) {
    auto s = WithTables();
    EXPECT_EQ(s->LfoIncrementTable[0], 0.0f);
    EXPECT_EQ(s->LfoIncrementTable[1], 4.5351473e-05f);
    EXPECT_EQ(s->LfoIncrementTable[20], 9.0702949e-04f);
    EXPECT_EQ(s->LfoIncrementTable[200], static_cast<float>(200.0L / 22050.0L));
}

TEST(LookupTables, PitchTableSpansSixOctavesFromC) {
    auto s = WithTables();
    EXPECT_NEAR(s->PitchTable[0] * 4.0 * 22050.0, 32.703, 0.0005);
    EXPECT_EQ(s->PitchTable[5400], 0.004988662f); // A = 440 Hz
    EXPECT_NEAR(s->PitchTable[5400] * 4.0 * 22050.0, 440.0, 1e-4);
    EXPECT_EQ(s->PitchTable[2520], 0.0012471655f);
    for (int l = 0; l + 1440 < kPitchTableSize; ++l)
        EXPECT_EQ(s->PitchTable[l + 1440], 2 * s->PitchTable[l]) << l;
}

TEST(LookupTables, ResonanceScaleFallsStrictlyToOne) {
    auto s = WithTables();
    EXPECT_EQ(s->ResonanceScaleTable[0], 3.9998186f);
    EXPECT_EQ(s->ResonanceScaleTable[5000], 1.5156959f);
    EXPECT_EQ(s->ResonanceScaleTable[10000], 1.0f);
    for (int l = 1; l < kResonanceScaleTableSize; ++l)
        EXPECT_LT(s->ResonanceScaleTable[l], s->ResonanceScaleTable[l - 1]) << l;
}

TEST(SynthStateStartUp, RunningStateIsCleared) {
    SynthState s;
    s.CtrlHeld = s.ModAlwaysOn = s.ModSquare = true;
    s.Voices[2].Active = 1;
    s.Voices[2].VcaLevel = 0.5f;
    s.VoiceOrder = {2, -1, -1, -1, -1};
    s.LfoPhase = 0.75f;
    s.EchoLine[17] = 3.0f;
    s.EchoPos = 99;
    InitialiseRunningState(s);
    EXPECT_FALSE(s.CtrlHeld || s.ModAlwaysOn || s.ModSquare);
    EXPECT_EQ(s.Voices[2].Active, 0);
    EXPECT_EQ(s.Voices[2].VcaLevel, 0.0f);
    EXPECT_EQ(s.VoiceOrder, (std::array<std::int32_t, 5>{-1, -1, -1, -1, -1}));
    EXPECT_EQ(s.LfoPhase, 0.0f);
    EXPECT_EQ(s.EchoLine[17], 0.0f);
    EXPECT_EQ(s.EchoPos, 0);
}
