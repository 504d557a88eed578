#include "engine/playing.h"

#include <gtest/gtest.h>

#include <memory>

#include "engine/command.h"
#include "tests/support/engine_fixture.h"

using namespace morvane;

namespace {

struct VelocityCase {
    int amount; // A or C, percent
    int velocity;
    float expected;
};

} // namespace

// 1 - (A/100) (127 - v)/127 and 2 (C/100) (v - 127)/127 at the ends and the middle of both
// ranges, each rounded once from the extended value.
TEST(Velocity, GainAndCutoffOctavesFollowTheirFormulas) {
    const VelocityCase gains[] = {
        {100, 127, 1.0f},
        {100, 1, static_cast<float>(1 - 126.0L / 127)},
        {100, 64, static_cast<float>(64.0L / 127)}, // about 6 dB below 127
        {50, 1, static_cast<float>(1 - 0.5L * (126.0L / 127))},
        {0, 1, 1.0f},
    };
    for (const VelocityCase& c : gains) {
        PlayingParameters p;
        p.VelocityToVolume = c.amount;
        EXPECT_EQ(VelocityOf(p, c.velocity).Gain, c.expected) << c.amount << " " << c.velocity;
        EXPECT_EQ(VelocityOf(p, c.velocity).Octaves, 0.0f);
    }
    const VelocityCase octaves[] = {
        {100, 127, 0.0f},
        {100, 1, static_cast<float>(2 * (-126.0L / 127))},
        {50, 64, static_cast<float>(-63.0L / 127)},
        {0, 1, 0.0f},
    };
    for (const VelocityCase& c : octaves) {
        PlayingParameters p;
        p.VelocityToCutoff = c.amount;
        EXPECT_EQ(VelocityOf(p, c.velocity).Octaves, c.expected) << c.amount << " " << c.velocity;
    }
}

// The wheel's ends reach exactly +-S semitones; halves round away from the centre (b = -256
// at S = 2 is 7.5 steps); b = +-1 stays at the centre.
TEST(Bend, OffsetRoundsInIntegersToTheWheelsEnds) {
    const int bends[] = {-8192, -4096, -256, -35, -1, 0, 1, 35, 4096, 8191};
    const struct {
        int range;
        int expected[10];
    } cases[] = {
        {0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {2, {-240, -120, -8, -1, 0, 0, 0, 1, 120, 240}},
        {24, {-2880, -1440, -90, -12, 0, 0, 0, 12, 1440, 2880}},
    };
    for (const auto& c : cases) {
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(BendOffset(bends[i], c.range), c.expected[i]) << bends[i] << " " << c.range;
    }
}

// The commands clamp what they are given; the wheel sets the LFO's depth only while it
// alone holds the gate.
TEST(PlayingCommands, ClampAndHandTheWheelTheDepthAlone) {
    auto s = fixture::MakeSynth();
    Instrument instrument(*s);
    instrument.Apply(SetPlaying{PlayingControl::BendRange, 30});
    EXPECT_EQ(s->BendRange, kLargestBendRange);
    instrument.Apply(SetPlaying{PlayingControl::VelocityToVolume, -3});
    EXPECT_EQ(s->VelocityToVolume, 0);
    instrument.Apply(SetPlaying{PlayingControl::VelocityToCutoff, 101});
    EXPECT_EQ(s->VelocityToCutoff, 100);
    instrument.Apply(BendPitch{9000});
    EXPECT_EQ(s->PitchBend, kHighestBend);
    instrument.Apply(BendPitch{-9000});
    EXPECT_EQ(s->PitchBend, kLowestBend);

    instrument.Apply(KeyDown{3, 0}); // played as velocity 1
    EXPECT_EQ(s->Voices[s->VoiceOrder[0]].VelocityOctaves, static_cast<float>(2 * (-126.0L / 127)));

    const struct {
        Command command;
        bool gate;
        int depth;
    } steps[] = {
        {MoveModWheel{40}, true, 40},
        {HoldLfo{LfoHolder::CtrlKey, true}, true, kFullWheelDepth},
        {MoveModWheel{90}, true, kFullWheelDepth},
        {HoldLfo{LfoHolder::CtrlKey, false}, true, 90},
        {MoveModWheel{200}, true, kFullWheelDepth},
        {MoveModWheel{0}, false, kFullWheelDepth},
    };
    for (const auto& step : steps) {
        instrument.Apply(step.command);
        EXPECT_EQ(s->CtrlHeld, step.gate);
        EXPECT_EQ(s->WheelDepth, step.depth);
    }
}
