#include "engine/voice_renderer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "engine/filter.h"
#include "engine/keymap.h"
#include "engine/voice_pool.h"
#include "tests/support/engine_fixture.h"

using namespace morvane;

namespace {

constexpr int kKeyA = 1; // semitone 9: the cutoff's neutral key
constexpr int kWorkedPitch = 2520;

class VoiceRenderer : public ::testing::Test {
protected:
    void SetUp() override {
        s = fixture::MakeSynth();
        s->Vca.AttackTime = 220.5f;
    }

    // Starts a note through the pool and returns its freshly zeroed voice.
    TSynthVoice& Start(int key) {
        NoteOn(*s, key);
        return s->Voices[s->VoiceOrder[0]];
    }

    bool Step(TSynthVoice& v, float& accumulator) {
        return RenderVoice(*s, v, kWorkedPitch, kWorkedPitch, 0, accumulator);
    }

    std::unique_ptr<SynthState> s;
};

// One output sample of the two oscillators in their plain form: each sub-step adds the
// weighted waveforms and runs the sum through CascadeFilter.
void OscillatorsOneByOne(const SynthState& s, TSynthVoice& v, int pitch1, int pitch2) {
    using X = long double;
    const float inc[2] = {static_cast<float>(X(s.TuningRatio) * s.Tables->PitchTable[pitch1]),
                          static_cast<float>(X(s.TuningRatio) * s.Tables->PitchTable[pitch2])};
    float* phase[2] = {&v.Osc1Phase, &v.Osc2Phase};
    const int wave[2] = {s.Osc1Wave, s.Osc2Wave};
    const float width[2] = {s.Osc1Width, s.Osc2Width};
    const float volume[2] = {s.Osc1Volume, s.Osc2Volume};
    for (int step = 0; step < 4; ++step) {
        float sum = 0;
        for (int o = 0; o < 2; ++o) {
            float t = X(*phase[o]) + inc[o];
            if (t >= 1)
                t = X(t) - 1;
            *phase[o] = t;
            sum = X(Waveform(wave[o], t, width[o])) * volume[o] + sum;
        }
        CascadeFilter(DecimatorCascade, v.DecimatorState, sum);
    }
}

} // namespace

TEST_F(VoiceRenderer, WorkedExampleOfAFreshVoice) {
    s->Osc1Wave = 1;
    s->Osc1Volume = 1;
    s->Osc2Wave = 0;
    s->Resonance = 0;
    s->VcfIntensity = 0;
    s->CutoffHz = 1128;
    ASSERT_EQ(KeyAt(kKeyA).Semitone, 9);
    ASSERT_EQ(s->Tables->PitchTable[kWorkedPitch], 0.0012471655f);

    LadderCoefficients c = ComputeLadderCoefficients(*s, 0.5f, 9);
    EXPECT_EQ(c.fc, 0.10231292f);
    EXPECT_EQ(c.k, -0.6484222f);
    EXPECT_EQ(c.p, 0.17578891f);
    EXPECT_EQ(c.r, 0.0f);

    TSynthVoice& v = Start(kKeyA);
    std::vector<float> contributions;
    for (int n = 0; n < 8; ++n) {
        float accumulator = 0;
        ASSERT_FALSE(Step(v, accumulator));
        contributions.push_back(accumulator);
    }
    EXPECT_EQ(contributions,
              (std::vector<float>{-0.017585332f, -0.32855955f, -2.1528256f, -8.059716f, -21.114294f,
                                  -43.461803f, -75.61517f, -116.56092f}));
}

TEST_F(VoiceRenderer, AttackReachesFullLevelAtThe153rdSample) {
    TSynthVoice& v = Start(kKeyA);
    std::vector<float> levels;
    float accumulator = 0;
    int samples = 0;
    while (v.VcaStage == StageAttack) {
        Step(v, accumulator);
        levels.push_back(v.VcaLevel);
        ++samples;
    }
    EXPECT_EQ(samples, 153);
    EXPECT_EQ(levels[0], 0.009070295f);
    EXPECT_EQ(levels[1], 0.018099455f);
    EXPECT_EQ(levels[2], 0.027087666f);
    EXPECT_LT(levels[151], 1.0f);
    EXPECT_EQ(v.VcaLevel, 1.0f);
    EXPECT_NE(accumulator, 0.0f);
    // Decay begins with the next sample.
    Step(v, accumulator);
    EXPECT_LT(v.VcaLevel, 1.0f);
}

TEST_F(VoiceRenderer, ReleaseEndsAtItsThe1520thSampleAndFreesTheVoice) {
    s->Vca.ReleaseTime = 220.5f;
    TSynthVoice& v = Start(kKeyA);
    v.VcaLevel = 1;
    ReleaseNote(*s, kKeyA);
    int samples = 0;
    bool ended = false;
    while (!ended) {
        float accumulator = 0;
        ended = Step(v, accumulator);
        ++samples;
        if (ended) {
            EXPECT_EQ(accumulator, 0.0f) << "an ended voice adds nothing";
        }
    }
    EXPECT_EQ(samples, 1520);
    EXPECT_EQ(v.VcaLevel, 0.0009986532f);
    EXPECT_EQ(v.Active, 0);
    EXPECT_EQ(v.Key, -1);
    EXPECT_EQ(s->VoiceOrder[0], -1);
}

TEST_F(VoiceRenderer, FilterEnvelopeRestsAtZeroWhileTheVoiceLives) {
    s->Vcf.ReleaseTime = 220.5f;
    TSynthVoice& v = Start(kKeyA);
    v.VcaLevel = 1;
    v.VcfLevel = 1;
    ReleaseNote(*s, kKeyA);
    float accumulator = 0;
    for (int n = 0; n < 3000; ++n)
        ASSERT_FALSE(Step(v, accumulator));
    EXPECT_EQ(v.VcfLevel, 0.0f);
    EXPECT_EQ(v.VcfStage, StageRelease);
    EXPECT_GT(v.VcaLevel, 0.5f);
}

TEST(NoiseGenerator, FirstDrawsAfterStart) {
    SynthState s;
    EXPECT_EQ(DrawNoise(s), 0u);
    EXPECT_EQ(s.NoiseSeed, 1u);
    EXPECT_EQ(DrawNoise(s), 31u);
    EXPECT_EQ(s.NoiseSeed, 134775814u);
    EXPECT_EQ(DrawNoise(s), 861u);
    EXPECT_EQ(s.NoiseSeed, 3698175007u);
}

TEST_F(VoiceRenderer, NoiseDrawsOncePerVoiceAndSampleOnlyWhenOn) {
    TSynthVoice& v = Start(kKeyA);
    float accumulator = 0;
    s->NoiseLevel = 0;
    Step(v, accumulator);
    EXPECT_EQ(s->NoiseSeed, 0u);
    s->NoiseLevel = 1;
    Step(v, accumulator);
    EXPECT_EQ(s->NoiseSeed, 1u);
}

TEST(Waveforms, ValuesAtTheirPhases) {
    EXPECT_EQ(Waveform(1, 0.0f, 0.5f), -0.5f);
    EXPECT_EQ(Waveform(1, 0.75f, 0.5f), 0.25f);
    EXPECT_EQ(Waveform(3, 0.0f, 0.5f), 1.0f);
    EXPECT_EQ(Waveform(3, 0.5f, 0.5f), -1.0f);
    EXPECT_EQ(Waveform(3, 0.25f, 0.5f), 0.0f);
    EXPECT_EQ(Waveform(0, 0.3f, 0.5f), 0.0f);
    EXPECT_EQ(Waveform(7, 0.3f, 0.5f), 0.0f);
    // The square's width is the phase below which it is high: 0 and 1 are constant.
    for (float t : {0.0f, 0.25f, 0.5f, 0.999f}) {
        EXPECT_EQ(Waveform(2, t, 0.0f), -0.5f);
        EXPECT_EQ(Waveform(2, t, 1.0f), 0.5f);
    }
    EXPECT_EQ(Waveform(2, 0.3f, 0.3f), -0.5f);
}

// Each pair of waveforms has its own oscillator routine; every one must move the phases
// and the anti-alias filter exactly as the oscillators run one by one through
// CascadeFilter would. Codes outside 0..3 are silent.
TEST_F(VoiceRenderer, EveryWaveformPairFeedsTheDecimatorExactly) {
    s->Osc1Width = 0.3f;
    s->Osc2Width = 0.6f;
    s->Osc1Volume = 0.8f;
    s->Osc2Volume = 0.55f;
    s->TuningRatio = 1.0227273f;
    constexpr int kPitch = 6000; // large steps, so that the phases wrap often
    constexpr int kLfo = -7;
    for (int wave1 : {0, 1, 2, 3, 7}) {
        for (int wave2 : {0, 1, 2, 3, -1}) {
            s->Osc1Wave = wave1;
            s->Osc2Wave = wave2;
            TSynthVoice v{};
            v.Key = kKeyA;
            v.VcaStage = v.VcfStage = StageAttack;
            v.Osc1Phase = 0.97f;
            v.Osc2Phase = 0.5f;
            TSynthVoice plain = v;
            for (int n = 0; n < 50; ++n) {
                float accumulator = 0;
                RenderVoice(*s, v, kPitch, kPitch + 12, kLfo, accumulator);
                OscillatorsOneByOne(*s, plain, kPitch + kLfo, kPitch + 12 + kLfo);
                ASSERT_EQ(v.Osc1Phase, plain.Osc1Phase) << wave1 << " " << wave2 << " " << n;
                ASSERT_EQ(v.Osc2Phase, plain.Osc2Phase) << wave1 << " " << wave2 << " " << n;
                ASSERT_EQ(v.DecimatorState, plain.DecimatorState) << wave1 << " " << wave2;
            }
        }
    }
}

TEST_F(VoiceRenderer, ResonanceAtOrAboveOneIsUsedAsNineTenths) {
    s->VcfIntensity = 0;
    s->CutoffHz = 1128;
    float entry = s->Tables->ResonanceScaleTable[1023];
    s->Resonance = 0.95f;
    EXPECT_EQ(ComputeLadderCoefficients(*s, 0, 9).r, entry * 0.95f);
    s->Resonance = 1.0f;
    EXPECT_EQ(ComputeLadderCoefficients(*s, 0, 9).r, entry * 0.9f);
    s->Resonance = 3.0f;
    EXPECT_EQ(ComputeLadderCoefficients(*s, 0, 9).r, entry * 0.9f);
}

TEST_F(VoiceRenderer, CutoffAtOrAboveHalfTheRateOpensTheLadderFully) {
    s->Resonance = 0.5f;
    s->VcfIntensity = 100;
    for (int cutoff : {11025, 2000}) {
        s->CutoffHz = cutoff;
        LadderCoefficients c = ComputeLadderCoefficients(*s, 1.0f, 40);
        EXPECT_EQ(c.fc, 1.0f);
        EXPECT_EQ(c.k, 1.0f);
        EXPECT_EQ(c.p, 1.0f);
        EXPECT_EQ(c.r, 0.5f); // entry 10000 is exactly 1
    }
}

TEST_F(VoiceRenderer, ResonanceTableIndexIsTruncated) {
    s->Resonance = 0.5f;
    s->VcfIntensity = 0;
    s->CutoffHz = 1360; // fc x 10000 = 1233.56
    LadderCoefficients c = ComputeLadderCoefficients(*s, 0, 9);
    ASSERT_GT(c.fc * 10000.0, 1233.5);
    EXPECT_EQ(c.r, s->Tables->ResonanceScaleTable[1233] * 0.5f);
    EXPECT_NE(c.r, s->Tables->ResonanceScaleTable[1234] * 0.5f);
}

// The inline power of two must be the C library's exp2l to the bit over the exponents
// the cutoff can take: envelope 0..1, intensity 0..100, semitones 8..40.
TEST(PowerOfTwo, MatchesTheLibraryToTheBit) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> level(0.0f, 1.0f);
    auto same = [](long double e) {
        long double a = Exp2(e);
        long double b = std::exp2(e);
        return std::memcmp(&a, &b, 10) == 0; // the 80 value bits, not the padding
    };
    for (int intensity = 0; intensity <= 100; ++intensity) {
        for (int semitone = 8; semitone <= 40; ++semitone) {
            for (int n = 0; n < 30; ++n) {
                long double e = (static_cast<long double>(level(random)) * 4 * intensity) / 100 +
                                static_cast<long double>(semitone - 9) / 12;
                ASSERT_TRUE(same(e)) << intensity << " " << semitone;
            }
        }
    }
    for (long double e : {0.0L, 1.0L, 4.0L, 0x1p-70L, -0x1p-66L, 0x1p-65L, -0x1p-65L, 0.5L, -0.5L,
                          2.5L, -1.0L / 12, 5.0L + 31.0L / 12})
        EXPECT_TRUE(same(e)) << static_cast<double>(e);
}

TEST_F(VoiceRenderer, CutoffFollowsTheEnvelopeAndTheKey) {
    s->CutoffHz = 500;
    s->VcfIntensity = 100;
    // Full envelope: four octaves up; an octave up the keyboard: one more.
    EXPECT_EQ(ComputeLadderCoefficients(*s, 1.0f, 9).fc, static_cast<float>(16000.0L / 22050));
    EXPECT_EQ(ComputeLadderCoefficients(*s, 0.0f, 21).fc, static_cast<float>(2000.0L / 22050));
}

TEST_F(VoiceRenderer, WithoutTheFilterEnvelopeTheCutoffFollowsTheAmplitudeInRelease) {
    s->VcfIntensity = 100;
    auto releasedPair = [&] {
        std::vector<float> out;
        for (int vcfLevel : {0, 1}) {
            TSynthVoice& v = Start(kKeyA);
            v.VcaLevel = 1;
            v.VcfLevel = static_cast<float>(vcfLevel);
            ReleaseNote(*s, kKeyA);
            float accumulator = 0;
            for (int n = 0; n < 200; ++n)
                Step(v, accumulator);
            out.push_back(accumulator);
        }
        return out;
    };
    s->UseVcfEnvelope = false;
    std::vector<float> ampl = releasedPair();
    EXPECT_EQ(ampl[0], ampl[1]);
    s->UseVcfEnvelope = true;
    std::vector<float> filter = releasedPair();
    EXPECT_NE(filter[0], filter[1]);
}

TEST_F(VoiceRenderer, LadderOutputIsClampedThenSaturated) {
    s->Resonance = 0;
    s->VcfIntensity = 0;
    s->CutoffHz = 1128; // k < 0, so a large old stage value drives the next one up
    for (auto [key, sign] : {std::pair{kKeyA, 1.0f}, std::pair{kKeyA + 2, -1.0f}}) {
        TSynthVoice& v = Start(key);
        v.LadderY3 = 1000 * sign;
        float accumulator = 0;
        Step(v, accumulator);
        EXPECT_EQ(v.LadderY4, 0.6666667f * sign); // 2 - 8/6
    }
}
