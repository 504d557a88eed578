#include "engine/block_renderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/keymap.h"
#include "engine/parameters.h"
#include "engine/tuning.h"
#include "engine/voice_pool.h"
#include "engine/voice_renderer.h"
#include "tests/engine/reference_renderer.h"
#include "tests/support/engine_fixture.h"

using namespace morvane;
using fixture::Fingerprint;
using fixture::Press;
using fixture::Render;

namespace {

class BlockRenderer : public ::testing::Test {
protected:
    void SetUp() override { s = fixture::MakeSynth(); }

    // The sample the master chain makes of a voice sum, with distortion and echo off.
    std::int16_t Master(float mix) { return RenderMasterSample(*s, mix, EchoLength(100)); }

    std::unique_ptr<SynthState> s;
};

// The frequency of a signal from its rising zero crossings, interpolated between samples.
double FrequencyFromZeroCrossings(const std::vector<std::int16_t>& x) {
    double first = -1;
    double last = -1;
    int cycles = -1;
    for (std::size_t n = 1; n < x.size(); ++n) {
        if (x[n - 1] < 0 && x[n] >= 0) {
            double at = n - 1 + double(-x[n - 1]) / (x[n] - x[n - 1]);
            if (first < 0)
                first = at;
            last = at;
            ++cycles;
        }
    }
    return cycles * double(kSampleRate) / (last - first);
}

} // namespace

TEST_F(BlockRenderer, SilenceWithoutVoicesLeavesTheLfoAlone) {
    s->LfoPhase = 0.25f;
    s->ModAlwaysOn = true;
    std::vector<std::int16_t> out = Render(*s, 2);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](std::int16_t v) { return v == 0; }));
    EXPECT_EQ(s->LfoPhase, 0.25f);
    EXPECT_TRUE(
        std::all_of(s->EchoLine.begin(), s->EchoLine.end(), [](float v) { return v == 0; }));
}

TEST_F(BlockRenderer, EchoTailReturnsEveryDelayAtHalfDepth) {
    s->EchoDepth = 100;
    s->EchoTimeMs = 50;
    ASSERT_EQ(EchoLength(50), 1102);
    s->EchoLine[0] = 1000;
    std::vector<std::int16_t> out = Render(*s, 6);
    for (int n = 0; n < 2400; ++n) {
        std::int16_t expected = n == 0 ? 500 : n == 1102 ? 250 : n == 2204 ? 125 : 0;
        ASSERT_EQ(out[n], expected) << n;
    }
    EXPECT_EQ(EchoLength(100), 2205);
    EXPECT_EQ(EchoLength(200), 4410);
}

TEST_F(BlockRenderer, ShortenedEchoFinishesItsPositionThenWraps) {
    s->EchoDepth = 100;
    s->EchoLine[3000] = 800;
    s->EchoPos = 3000; // beyond the 1102 samples of 50 ms
    EXPECT_EQ(RenderMasterSample(*s, 0, EchoLength(50)), 400);
    EXPECT_EQ(s->EchoLine[3000], 400.0f);
    EXPECT_EQ(s->EchoPos, 0);
}

TEST_F(BlockRenderer, ClipIsSymmetricAndConversionTruncates) {
    EXPECT_EQ(Master(40000.0f), 32767);
    EXPECT_EQ(s->EchoLine[0], 32767.0f);
    EXPECT_EQ(Master(-40000.0f), -32767);
    EXPECT_EQ(s->EchoLine[1], -32767.0f);
    EXPECT_EQ(Master(1.9f), 1);
    EXPECT_EQ(Master(-1.9f), -1);
    EXPECT_EQ(Master(32766.99f), 32766);
    EXPECT_EQ(s->EchoLine[4], 32766.99f);
    EXPECT_EQ(Master(5e-11f), 0);
    EXPECT_EQ(s->EchoLine[5], 0.0f);
    EXPECT_EQ(s->EchoPos, 6);
}

TEST_F(BlockRenderer, DistortionMultipliesThenClipsBeforeItsLowPass) {
    s->DistortionLevel = 100;
    s->DistortionVolume = 100;
    for (float mix : {500.0f, -500.0f}) {
        TBiquadState fresh{};
        float clipped = mix > 0 ? 8191.0f : -8191.0f; // 500 x 21 = 10500
        std::int16_t expected =
            static_cast<std::int16_t>(CascadeFilter(DistortionCascade, fresh, clipped));
        s->DistortionFilterState = {};
        EXPECT_EQ(Master(mix), expected);
        EXPECT_EQ(s->DistortionFilterState, fresh);
    }
    // Switched off, the filter neither runs nor forgets its state.
    TBiquadState ringing = s->DistortionFilterState;
    s->DistortionLevel = 0;
    EXPECT_EQ(Master(100.0f), 100);
    EXPECT_EQ(s->DistortionFilterState, ringing);
}

// The gain DistortionLevel/5 + 1 is inexact for most levels. Held at extended precision
// it rounds the product differently from a double for some sums, like this one, where
// the product lies next to the midpoint of two singles.
TEST_F(BlockRenderer, DistortionGainIsHeldAtExtendedPrecision) {
    constexpr int kLevel = 37;
    constexpr float kMix = 0x1.90003cp+6f; // 100.000229
    float extended = (static_cast<long double>(kLevel) / 5 + 1) * kMix;
    float viaDouble = (static_cast<double>(kLevel) / 5 + 1) * kMix;
    ASSERT_NE(extended, viaDouble);
    TBiquadState expected{};
    CascadeFilter(DistortionCascade, expected, extended);

    s->DistortionLevel = kLevel;
    s->DistortionVolume = 100;
    Master(kMix);
    EXPECT_EQ(s->DistortionFilterState, expected);
}

TEST_F(BlockRenderer, SquareLfoIsPositiveFromHalfAPeriod) {
    s->ModSquare = true;
    s->ModDepth = 100;
    s->ModFreq = 20;
    s->ModAlwaysOn = true;
    float inc = s->Tables->LfoIncrementTable[20];
    s->LfoPhase = 0.5f - inc;
    ASSERT_EQ(static_cast<float>(s->LfoPhase + static_cast<long double>(inc)), 0.5f);
    EXPECT_EQ(AdvanceLfo(*s), 180); // 100/800 x 1440
    s->LfoPhase = 0.25f;
    EXPECT_EQ(AdvanceLfo(*s), -180);
}

TEST_F(BlockRenderer, TriangleLfoPeaksAtPhaseZero) {
    s->ModDepth = 100;
    s->ModFreq = 20;
    s->ModAlwaysOn = true;
    float inc = s->Tables->LfoIncrementTable[20];
    s->LfoPhase = 1.0f - inc;
    ASSERT_EQ(static_cast<float>(s->LfoPhase + static_cast<long double>(inc)), 1.0f);
    EXPECT_EQ(AdvanceLfo(*s), 360); // three semitones up
    EXPECT_EQ(s->LfoPhase, 0.0f);
}

TEST_F(BlockRenderer, LfoOffsetTruncatesTowardZero) {
    s->ModDepth = 1;
    s->ModFreq = 1;
    s->ModAlwaysOn = true;
    float inc = s->Tables->LfoIncrementTable[1];
    // After the step the phase is 0.3125: t = -0.25, value x 1440 = -0.9.
    s->LfoPhase = 0.3125f - inc;
    ASSERT_EQ(static_cast<float>(s->LfoPhase + static_cast<long double>(inc)), 0.3125f);
    EXPECT_EQ(AdvanceLfo(*s), 0);
}

TEST_F(BlockRenderer, ClosedGateSilencesTheLfoButItsPhaseRuns) {
    s->ModDepth = 100;
    s->ModFreq = 20;
    s->LfoPhase = 0.9f;
    EXPECT_EQ(AdvanceLfo(*s), 0);
    EXPECT_GT(s->LfoPhase, 0.9f);
    s->CtrlHeld = true;
    EXPECT_NE(AdvanceLfo(*s), 0);
}

TEST_F(BlockRenderer, LfoRunsThroughBlocksThatStartWithAVoice) {
    auto stepped = std::make_unique<SynthState>(*s);
    for (int n = 0; n < kBlockSamples; ++n)
        AdvanceLfo(*stepped);
    // The voice ends within the block; the LFO runs on to the block's end.
    s->Vca.ReleaseTime = 220.5f;
    Press(*s, {1});
    s->Voices[s->VoiceOrder[0]].VcaLevel = 0.00105f;
    ReleaseNote(*s, 1);
    Render(*s, 1);
    EXPECT_EQ(s->VoiceOrder[0], -1);
    EXPECT_EQ(s->LfoPhase, stepped->LfoPhase);
    Render(*s, 1);
    EXPECT_EQ(s->LfoPhase, stepped->LfoPhase);
}

TEST_F(BlockRenderer, RenderedNoteHasThePitchOfItsKey) {
    constexpr int kKeyA220 = 13; // semitone 21, an octave above the A of semitone 9
    ASSERT_EQ(KeyAt(kKeyA220).Semitone, 21);
    Press(*s, {kKeyA220});
    Render(*s, 20);
    EXPECT_NEAR(FrequencyFromZeroCrossings(Render(*s, 50)), 220.0, 0.2);

    // The tuning ratio scales every pitch.
    auto tuned = fixture::MakeSynth();
    tuned->TuningRatio = static_cast<long double>(4300) / 4400;
    Press(*tuned, {kKeyA220});
    Render(*tuned, 20);
    EXPECT_NEAR(FrequencyFromZeroCrossings(Render(*tuned, 50)), 215.0, 0.2);
}

// A note without a key plays at its own semitone, the bend moves it, and beyond the
// pitch table's top every index reads the top entry.
TEST_F(BlockRenderer, KeylessNotesAndTheBendSoundAtTheirOwnPitch) {
    const struct {
        int note;
        int bend;
        int range;
        double hertz;
    } cases[] = {
        {81, 0, 2, 880.0},     // semitone 45
        {24, 0, 2, 32.703},    // semitone -12
        {69, 8191, 2, 493.88}, // A on its key, two semitones up
        {69, -8192, 12, 220.0},
    };
    for (const auto& c : cases) {
        auto t = fixture::MakeSynth();
        t->Osc1Wave = 3; // a triangle crosses zero twice a period at any pitch
        t->PitchBend = c.bend;
        t->BendRange = c.range;
        const int key = c.note >= 44 && c.note <= 76 ? 33 : KeylessNoteKey(c.note);
        ASSERT_TRUE(c.note != 69 || KeyAt(key).Semitone == 33);
        EXPECT_FALSE(NoteOn(*t, key).Sounding.any() && key >= kKeyCount);
        Render(*t, 20);
        EXPECT_NEAR(FrequencyFromZeroCrossings(Render(*t, 100)), c.hertz, c.hertz * 5e-4) << c.note;
    }

    // Note 127 at HI, bent up two octaves: index 18652 reads entry 14399 like one at 14400.
    auto top = fixture::MakeSynth();
    auto clamped = fixture::MakeSynth();
    for (SynthState* t : {top.get(), clamped.get()}) {
        t->Osc1Octave = t->Osc2Octave = 2;
        t->ModAlwaysOn = true;
        t->ModDepth = 100;
    }
    top->BendRange = 24;
    top->PitchBend = kHighestBend;
    clamped->BendRange = 24;
    clamped->PitchBend = 4096; // 14399 - 2880 - 10920 = 599 short of the top, still above it
    NoteOn(*top, KeylessNoteKey(127));
    NoteOn(*clamped, KeylessNoteKey(127));
    EXPECT_EQ(Render(*top, 3), Render(*clamped, 3));
}

TEST_F(BlockRenderer, ChorusLiftsOscillatorTwoByTwelveSteps) {
    constexpr int kKey = 13;
    s->Osc1Wave = 0;
    s->Osc2Wave = 3;
    s->ChorusChecked = true;
    Press(*s, {kKey});
    std::vector<std::int16_t> out = Render(*s, 1);

    auto alone = fixture::MakeSynth();
    alone->Osc1Wave = 0;
    alone->Osc2Wave = 3;
    Press(*alone, {kKey});
    int base = alone->Osc1Octave * 1440 + KeyAt(kKey).Semitone * 120;
    TSynthVoice& v = alone->Voices[alone->VoiceOrder[0]];
    for (int n = 0; n < kBlockSamples; ++n) {
        float mix = 0;
        RenderVoice(*alone, v, base, base + 12, AdvanceLfo(*alone), mix);
        ASSERT_EQ(out[n], static_cast<std::int16_t>(mix)) << n;
    }
}

// Voice A at position 0 dies at step k of the block. At that step nothing is added and
// B and C lose the step; afterwards they play from positions 0 and 1 at their own keys.
TEST_F(BlockRenderer, AnEndedVoiceStopsTheVoiceLoopForItsSample) {
    constexpr int kKeys[] = {1, 13, 30}; // semitones 9, 21 and 31
    s->Vca.ReleaseTime = 220.5f;
    Press(*s, {kKeys[0], kKeys[1], kKeys[2]});
    s->VoiceOrder = {0, 1, 2, -1, -1}; // A first
    for (TSynthVoice& v : s->Voices) {
        v.VcaLevel = 1;
        v.VcaStage = StageRelease;
        v.VcfStage = StageRelease;
    }
    s->Voices[0].VcaLevel = 0.00105f; // dies after about ten samples

    // The same voices B and C, rendered one by one at the pitches of their own keys.
    auto twin = std::make_unique<SynthState>(*s);
    std::vector<std::int16_t> out = Render(*s, 1);

    int k = -1;
    std::array<float, kBlockSamples> expected{};
    for (int n = 0; n < kBlockSamples; ++n) {
        if (k < 0 && RenderVoice(*twin, twin->Voices[0], 0, 0, 0, expected[n])) {
            k = n;
            expected[n] = 0;
            continue;
        }
        for (int v : {1, 2}) {
            int pitch = twin->Osc1Octave * 1440 + KeyAt(kKeys[v]).Semitone * 120;
            RenderVoice(*twin, twin->Voices[v], pitch, pitch, 0, expected[n]);
        }
    }
    ASSERT_GT(k, 0);
    EXPECT_EQ(out[k], 0);
    for (int n = k; n < kBlockSamples; ++n)
        ASSERT_EQ(out[n], static_cast<std::int16_t>(expected[n])) << n;
    EXPECT_EQ(s->VoiceOrder, (std::array<std::int32_t, kVoiceCount>{1, 2, -1, -1, -1}));
}

// Each block names exactly the keys whose voices left VoiceOrder during it, two at once
// when two releases die in the same block, and never a held key.
TEST_F(BlockRenderer, ResultNamesTheKeysWhoseVoicesEnded) {
    s->Vca.ReleaseTime = 220.5f;
    Press(*s, {1, 13, 30, 31});
    s->Voices[s->VoiceOrder[0]].VcaLevel = 1; // key 31 rings for about three blocks
    for (int key : {1, 30, 31})
        ReleaseNote(*s, key); // 1 and 30 from silence: they end at once
    auto sounding = [&] {
        KeySet keys;
        for (int v : s->VoiceOrder) {
            if (v != kNoVoice)
                keys[s->Voices[v].Key] = true;
        }
        return keys;
    };
    std::array<std::int16_t, kBlockSamples> block{};
    KeySet ended;
    for (int b = 0; b < 6; ++b) {
        const KeySet before = sounding();
        const BlockResult result = RenderBlock(*s, block.data());
        EXPECT_EQ(result.EndedKeys, before & ~sounding()) << "block " << b;
        if (b == 0) {
            EXPECT_EQ(result.EndedKeys, KeySet().set(1).set(30));
        }
        ended |= result.EndedKeys;
    }
    EXPECT_EQ(ended, KeySet().set(1).set(30).set(31));
}

TEST_F(BlockRenderer, LoudChordsNeverPassTheClip) {
    fixture::SetWorstCaseSound(*s);
    s->DistortionLevel = 0;
    s->EchoDepth = 100;
    s->EchoTimeMs = 50;
    s->Resonance = 0.9f;
    for (int key : fixture::kWorstCaseChord)
        NoteOn(*s, key);
    std::vector<std::int16_t> out = Render(*s, 100);
    auto [low, high] = std::minmax_element(out.begin(), out.end());
    EXPECT_GE(*low, -32767);
    EXPECT_EQ(*high, 32767); // the one-sided noise drives the mix into the clip
}

// Fingerprints of long renders, to keep every faster version of the engine exact.
TEST_F(BlockRenderer, LongRendersKeepTheirFingerprints) {
    fixture::SetWorstCaseSound(*s);
    for (int key : fixture::kWorstCaseChord)
        NoteOn(*s, key);
    std::vector<std::int16_t> held = Render(*s, 400);
    for (int key : fixture::kWorstCaseChord)
        ReleaseNote(*s, key);
    std::vector<std::int16_t> released = Render(*s, 200);
    EXPECT_EQ(Fingerprint(held), 13063242790928101603u);
    EXPECT_EQ(Fingerprint(released), 2066845649250154674u);

    auto plain = fixture::MakeSynth();
    Press(*plain, {2, 9, 20});
    plain->CtrlHeld = true;
    std::vector<std::int16_t> chord = Render(*plain, 300);
    ReleaseNote(*plain, 9);
    plain->Osc2Wave = 3;
    plain->Osc2Octave = 2;
    plain->ModSquare = true;
    plain->ChorusChecked = true;
    plain->Osc1Volume = 0.7f;
    plain->Osc2Volume = 0.45f;
    std::vector<std::int16_t> changed = Render(*plain, 300);
    EXPECT_EQ(Fingerprint(chord), 9965206488505081197u);
    EXPECT_EQ(Fingerprint(changed), 8454569563631626839u);
}

namespace {

// The first difference between two engines in what they keep from block to block, or
// nothing when they agree to the bit.
std::string FirstDifference(const SynthState& a, const SynthState& b) {
    auto same = [](const auto& x, const auto& y) { return std::memcmp(&x, &y, sizeof x) == 0; };
    for (int v = 0; v < kVoiceCount; ++v) {
        if (!same(a.Voices[v], b.Voices[v]))
            return "voice record " + std::to_string(v);
    }
    if (a.VoiceOrder != b.VoiceOrder)
        return "VoiceOrder";
    if (!same(a.LfoPhase, b.LfoPhase))
        return "LfoPhase";
    if (!same(a.DistortionFilterState, b.DistortionFilterState))
        return "DistortionFilterState";
    if (!same(a.EchoLine, b.EchoLine) || a.EchoPos != b.EchoPos)
        return "the echo line";
    if (a.NoiseSeed != b.NoiseSeed)
        return "NoiseSeed";
    return {};
}

// Twin engines, one rendered by RenderBlock, the other by the plain reference; every
// change between blocks is made to both.
class AgainstReference : public ::testing::Test {
protected:
    void SetUp() override {
        fast = fixture::MakeSynth();
        plain = std::make_unique<SynthState>(*fast);
    }

    template <typename Change> void Both(Change change) {
        change(*fast);
        change(*plain);
    }

    ::testing::AssertionResult RenderSame(int blocks) {
        for (int b = 0; b < blocks; ++b, ++rendered) {
            std::array<std::int16_t, kBlockSamples> got{}, expected{};
            RenderBlock(*fast, got.data());
            reference::RenderBlock(*plain, expected.data());
            for (int n = 0; n < kBlockSamples; ++n) {
                if (got[n] != expected[n])
                    return ::testing::AssertionFailure()
                           << "block " << rendered << " sample " << n << ": " << got[n]
                           << " instead of " << expected[n];
            }
            if (std::string d = FirstDifference(*fast, *plain); !d.empty())
                return ::testing::AssertionFailure() << "block " << rendered << ": " << d;
        }
        return ::testing::AssertionSuccess();
    }

    std::unique_ptr<SynthState> fast;
    std::unique_ptr<SynthState> plain;
    int rendered = 0;
};

} // namespace

// With both sustain levels at 1 the envelopes stand still after the attack, so the ladder
// tuning of one sample serves the next; each of its inputs changed between two blocks
// must still be heard from the next block on.
TEST_F(AgainstReference, EveryInputOfTheLadderTuningTakesEffectAtTheNextBlock) {
    Both([](SynthState& s) {
        fixture::SetEnvelope(s.Vca, 0, 0, 100, 0);
        fixture::SetEnvelope(s.Vcf, 0, 30, 100, 0);
        s.Resonance = 0.7f;
        Press(s, {1, 30});
    });
    ASSERT_TRUE(RenderSame(3));
    ASSERT_EQ(fast->Voices[0].VcaLevel, 1.0f);
    ASSERT_EQ(fast->Voices[0].VcfLevel, 1.0f);

    const std::vector<void (*)(SynthState&)> changes = {
        [](SynthState& s) { s.CutoffHz = 1960; },
        [](SynthState& s) { s.VcfIntensity = 10; },
        [](SynthState& s) { s.Resonance = 0.2f; },
        [](SynthState& s) { s.Resonance = 1.0f; }, // used as 0.9
        [](SynthState& s) { fixture::SetEnvelope(s.Vcf, 0, 30, 0, 0); },
        [](SynthState& s) { s.UseVcfEnvelope = true; },
        [](SynthState& s) { s.UseVcfEnvelope = false; },
        [](SynthState& s) { ReleaseNote(s, 30); }, // the cutoff follows the falling level
        [](SynthState& s) { NoteOn(s, 30); },      // and the new attack
        [](SynthState& s) {
            fixture::SetEnvelope(s.Vca, 0, 0, 100, 2);
            ReleaseNote(s, 1);
            ReleaseNote(s, 30);
            NoteOn(s, 40); // steals a releasing voice: another key, another key tracking
        },
    };
    for (auto change : changes) {
        Both(change);
        ASSERT_TRUE(RenderSame(2));
    }
}

TEST_F(AgainstReference, RandomPlayAndPanelMovesBetweenBlocks) {
    // A few keys across the range, so that notes collide, retrigger and steal.
    constexpr int kKeys[] = {0, 1, 5, 9, 13, 17, 20, 24, 29, 33, 37, 40};
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        SetUp();
        SoundControls fastControls(*fast), plainControls(*plain);
        std::mt19937 random(seed);
        auto pick = [&](int lowest, int highest) {
            return std::uniform_int_distribution<int>(lowest, highest)(random);
        };
        for (int block = 0; block < 120; ++block) {
            for (int events = pick(0, 4); events > 0; --events) {
                const int key = kKeys[pick(0, static_cast<int>(std::size(kKeys)) - 1)];
                switch (pick(0, 6)) {
                case 0:
                case 1:
                    Both([&](SynthState& s) { NoteOn(s, key); });
                    break;
                case 2:
                case 3:
                    Both([&](SynthState& s) { ReleaseNote(s, key); });
                    break;
                case 4: {
                    const auto id = static_cast<ControlId>(pick(0, kControlCount - 1));
                    const ControlDescription& d = Describe(id);
                    // Short envelopes, so that voices reach every stage and end often.
                    const bool envelope = id >= EnvAttack && id <= EnvVcfRelease;
                    const int value = pick(d.minimum, envelope ? 8 : d.maximum);
                    fastControls.ApplyPresetValue(id, value);
                    plainControls.ApplyPresetValue(id, value);
                    break;
                }
                case 5: {
                    const bool held = pick(0, 1) == 1;
                    Both([&](SynthState& s) { s.CtrlHeld = held; });
                    break;
                }
                case 6: {
                    const int tuning = pick(kLowestTuning, kHighestTuning);
                    Both([&](SynthState& s) { ApplyTuning(s, tuning); });
                    break;
                }
                }
            }
            ASSERT_TRUE(RenderSame(1)) << "seed " << seed;
        }
    }
}

// Velocities, keyless notes, the bend, the bend range and the wheel's depth, played at
// random between blocks, and the LFO at full depth so that pitches reach the table's ends.
TEST_F(AgainstReference, RandomVelocitiesNotesBendAndWheel) {
    for (std::uint32_t seed : {4u, 5u}) {
        SetUp();
        std::mt19937 random(seed);
        auto pick = [&](int lowest, int highest) {
            return std::uniform_int_distribution<int>(lowest, highest)(random);
        };
        Both([](SynthState& s) {
            fixture::SetEnvelope(s.Vca, 2, 5, 60, 4);
            fixture::SetEnvelope(s.Vcf, 1, 8, 30, 3);
            s.UseVcfEnvelope = true;
            s.VcfIntensity = 60;
            s.ModDepth = 100;
            s.CtrlHeld = true;
        });
        for (int block = 0; block < 150; ++block) {
            for (int events = pick(0, 4); events > 0; --events) {
                const int note = pick(0, 127);
                const int key =
                    note >= 44 && note <= 76 ? pick(0, kKeyCount - 1) : KeylessNoteKey(note);
                switch (pick(0, 5)) {
                case 0:
                case 1: {
                    PlayingParameters p;
                    p.VelocityToVolume = pick(0, 100);
                    p.VelocityToCutoff = pick(0, 100);
                    const NoteVelocity v = VelocityOf(p, pick(1, 127));
                    Both([&](SynthState& s) { NoteOn(s, key, v); });
                    break;
                }
                case 2:
                    Both([&](SynthState& s) { ReleaseNote(s, key); });
                    break;
                case 3: {
                    const int bend = pick(kLowestBend, kHighestBend);
                    Both([&](SynthState& s) { s.PitchBend = bend; });
                    break;
                }
                case 4: {
                    const int range = pick(0, kLargestBendRange), octave = pick(0, 2);
                    Both([&](SynthState& s) {
                        s.BendRange = range;
                        s.Osc1Octave = octave;
                        s.Osc2Octave = 2 - octave;
                        s.ChorusChecked = range % 2 == 0;
                    });
                    break;
                }
                case 5: {
                    const int depth = pick(0, kFullWheelDepth);
                    const bool square = pick(0, 1) == 1;
                    Both([&](SynthState& s) {
                        s.WheelDepth = depth;
                        s.ModSquare = square;
                    });
                    break;
                }
                }
            }
            ASSERT_TRUE(RenderSame(1)) << "seed " << seed;
        }
    }
}

TEST_F(AgainstReference, WithoutVoicesOnlyTheEchoAndTheDistortionRingOut) {
    Both([](SynthState& s) {
        s.DistortionLevel = 50;
        s.DistortionVolume = 80;
        s.DistortionFilterState = {0, 900, -400, 0, 2500, 1200};
        s.EchoDepth = 90;
        s.EchoTimeMs = 50;
        for (int n = 0; n < kEchoLineLength; n += 7)
            s.EchoLine[n] = static_cast<float>(n % 300) - 150.5f;
        s.LfoPhase = 0.375f;
        s.ModAlwaysOn = true;
    });
    ASSERT_TRUE(RenderSame(4));
    EXPECT_EQ(fast->LfoPhase, 0.375f);
}

// Values from outside (a settings file, a host) keep the audio thread within its tables:
// an echo time beyond the longest uses the whole line, a key beyond the keyboard starts
// no voice.
TEST_F(BlockRenderer, OutOfRangeValuesStayWithinTheTables) {
    EXPECT_EQ(EchoLength(kLongestEchoTimeMs), kEchoLineLength);
    for (int echoTimeMs : {201, 100000, -5}) {
        SCOPED_TRACE(echoTimeMs);
        s = fixture::MakeSynth();
        s->EchoTimeMs = echoTimeMs;
        for (int key : {-1, kVoiceKeyCount, 1000})
            EXPECT_FALSE(NoteOn(*s, key).Sounding.any()) << key;
        EXPECT_EQ(s->VoiceOrder[0], kNoVoice);
        std::array<std::int16_t, kBlockSamples> block;
        for (int b = 0; b < 2 * kSampleRate / kBlockSamples; ++b)
            RenderBlock(*s, block.data());
        EXPECT_LT(s->EchoPos, kEchoLineLength);
    }
}

namespace {

// A held chord whose releases end voices now and then, the LFO and the echo on: enough for
// a misplaced cut to move the LFO, a pitch or the echo.
void PlayBusySound(SynthState& s) {
    fixture::SetEnvelope(s.Vca, 1, 5, 40, 3);
    fixture::SetEnvelope(s.Vcf, 1, 6, 30, 2);
    s.ModDepth = 80;
    s.CtrlHeld = true;
    s.EchoDepth = 60;
    s.EchoTimeMs = 30;
    Press(s, {3, 12, 25});
}

std::size_t FirstDifferentSample(const std::vector<std::int16_t>& a,
                                 const std::vector<std::int16_t>& b) {
    return static_cast<std::size_t>(std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin());
}

} // namespace

// Rendering in pieces that end anywhere, with cuts only on the grid (one asked for there
// changes nothing), gives the whole blocks' samples and ended keys.
TEST_F(BlockRenderer, PiecesBetweenGridCutsAreTheWholeBlocks) {
    const std::vector<std::vector<int>> pieceLengths = {{441},  {1, 440}, {64},
                                                        {1000}, {440, 2}, {7, 13, 300, 1}};
    for (const std::vector<int>& lengths : pieceLengths) {
        SCOPED_TRACE(::testing::PrintToString(lengths));
        auto whole = fixture::MakeSynth();
        auto pieces = fixture::MakeSynth();
        PlayBusySound(*whole);
        PlayBusySound(*pieces);
        constexpr int kBlocks = 40;
        std::vector<std::int16_t> expected(kBlocks * kBlockSamples), got(expected.size());
        KeySet expectedEnded, gotEnded;
        for (int b = 0; b < kBlocks; ++b) {
            if (b == 10)
                ReleaseNote(*whole, 12);
            expectedEnded |= RenderBlock(*whole, expected.data() + b * kBlockSamples).EndedKeys;
        }
        StreamRenderer renderer;
        for (std::size_t done = 0, i = 0; done < got.size(); ++i) {
            if (done == 10 * kBlockSamples) {
                ReleaseNote(*pieces, 12);
                renderer.Cut();
            }
            const std::size_t next = std::min<std::size_t>(
                {done + lengths[i % lengths.size()], got.size(),
                 done < 10 * kBlockSamples ? 10 * kBlockSamples : got.size()});
            gotEnded |= renderer.Render(*pieces, got.data() + done, static_cast<int>(next - done))
                            .EndedKeys;
            done = next;
        }
        EXPECT_EQ(FirstDifferentSample(got, expected), got.size());
        EXPECT_EQ(gotEnded, expectedEnded);
        EXPECT_TRUE(gotEnded[12]);
    }
}

// Events at random samples, each a cut: the engine, rendering in random pieces, against the
// plain reference rendering from cut to cut.
TEST_F(AgainstReference, EventsAtRandomSamplesCutTheBlocks) {
    for (std::uint32_t seed : {6u, 7u, 8u}) {
        SetUp();
        std::mt19937 random(seed);
        auto pick = [&](int lowest, int highest) {
            return std::uniform_int_distribution<int>(lowest, highest)(random);
        };
        Both([](SynthState& s) {
            PlayBusySound(s);
            s.CtrlHeld = false;
        });
        StreamRenderer renderer;
        constexpr int kSamples = 60 * kBlockSamples;
        std::vector<int> cuts;
        for (int i = 0; i < 150; ++i)
            cuts.push_back(pick(1, kSamples - 1));
        for (int b = 1; b * kBlockSamples < kSamples; ++b)
            cuts.push_back(b * kBlockSamples);
        cuts.push_back(kSamples);
        std::sort(cuts.begin(), cuts.end());
        std::vector<std::int16_t> got(kSamples), expected(kSamples);
        int at = 0;
        for (int cut : cuts) {
            reference::RenderBetweenCuts(*plain, expected.data() + at, cut - at);
            // The engine stops on its way as a player stops at the end of a device's period.
            while (at < cut) {
                const int piece = std::min(cut - at, pick(1, 500));
                renderer.Render(*fast, got.data() + at, piece);
                at += piece;
            }
            ASSERT_EQ(FirstDifference(*fast, *plain), "") << "seed " << seed << " sample " << at;
            if (cut % kBlockSamples == 0 && pick(0, 1) == 0)
                continue; // on the grid the cut is made anyway
            const int key = pick(0, kKeyCount - 1);
            const int what = pick(0, 4);
            const int value = pick(kLowestBend, kHighestBend);
            Both([&](SynthState& s) {
                switch (what) {
                case 0:
                    NoteOn(s, key);
                    break;
                case 1:
                    ReleaseNote(s, key);
                    break;
                case 2:
                    s.PitchBend = value;
                    break;
                case 3:
                    s.CtrlHeld = !s.CtrlHeld;
                    break;
                case 4:
                    s.EchoTimeMs = value & 0x7f; // also a cut that changes nothing
                    break;
                }
            });
            renderer.Cut();
        }
        ASSERT_EQ(FirstDifferentSample(got, expected), got.size()) << "seed " << seed;
    }
}
