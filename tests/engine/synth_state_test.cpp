#include "engine/synth_state.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
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
    for (int l = kLowestPitch; l + 1440 <= kHighestPitch; ++l)
        EXPECT_EQ(s->PitchTable[l + 1440], 2 * s->PitchTable[l]) << l;
}

// The keys' entries 0..8639 keep their bits; the ends reach down to 0.81 Hz and up to
// 33472 Hz, and beyond them every index reads the nearer end.
TEST(LookupTables, PitchTableKeepsItsEntriesAndClampsBeyondItsEnds) {
    auto s = WithTables();
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a over the entries' bytes
    for (int l = 0; l < 8640; ++l) {
        const auto bits = std::bit_cast<std::uint32_t>(s->PitchTable[l]);
        for (int byte = 0; byte < 4; ++byte) {
            hash ^= (bits >> (8 * byte)) & 0xffu;
            hash *= 1099511628211ull;
        }
    }
    EXPECT_EQ(hash, 0xe945ed863fb4951dull);
    EXPECT_EQ(s->PitchTable[kLowestPitch], 9.19662125e-06f);
    EXPECT_EQ(s->PitchTable[kHighestPitch], 0.379500657f);
    EXPECT_LT(s->PitchTable[kLowestPitch], s->PitchTable[kLowestPitch + 1]);
    EXPECT_GT(s->PitchTable[kHighestPitch], s->PitchTable[kHighestPitch - 1]);
    for (int beyond = 1; beyond <= 2 * kLfoReach; ++beyond) {
        EXPECT_EQ(s->PitchTable[kLowestPitch - beyond], s->PitchTable[kLowestPitch]);
        EXPECT_EQ(s->PitchTable[kHighestPitch + beyond], s->PitchTable[kHighestPitch]);
    }
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
