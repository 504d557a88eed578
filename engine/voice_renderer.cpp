#include "engine/voice_renderer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

#include "engine/ladder_tuning.h"
#include "engine/numbers.h"
#include "engine/triangle.h"
#include "engine/voice_pool.h"

namespace morvane {

namespace {

using X = long double;

// The ladder's key tracking is neutral at this semitone (A).
constexpr int kNeutralSemitone = 9;
// An envelope in release below this level has died away (an extended constant: the
// single nearest 0.001 lies just above it and does not end the voice).
constexpr X kSilentLevel = 0.001L;
// A resonance of 1 would let the ladder ring for ever; the largest panel value is used.
constexpr float kMaxResonance = 0.9f;
constexpr float kLadderClamp = 2.0f;
constexpr int kNoiseDivisor = 50000; // noise 0..999 times NoiseLevel 0..100: 0 to 1.998
// ResonanceScaleTable has one entry per 1/10000 of the normalised cutoff.
constexpr int kResonanceSteps = kResonanceScaleTableSize - 1;
// The ladder's output (within +-0.9428) times the amplitude level, in 16-bit units.
constexpr int kOutputScale = 10000;

// The next level of an envelope; the stage moves on when the attack tops out. Returns
// true when a release has died away.
[[gnu::always_inline]] inline bool AdvanceEnvelope(const EnvelopeParameters& e, float& level,
                                                   std::int32_t& stage) {
    switch (stage) {
    case StageAttack:
        // Heads for 2 so that it reaches 1 in finite time, and stops there.
        level = (2 - X(level)) / e.AttackTime + level;
        if (level >= 1) {
            level = 1;
            stage = StageDecaySustain;
        }
        return false;
    case StageDecaySustain:
        level = level - (X(level) - e.SustainLevel) / e.DecayTime;
        if (!(level >= 0))
            level = 0;
        return false;
    case StageRelease:
        level = level - X(level) / e.ReleaseTime;
        return level <= kSilentLevel;
    default:
        return false;
    }
}

enum WaveCode : std::int32_t { Off = 0, Sawtooth = 1, Square = 2, Triangle = 3 };
constexpr int kWaveCodes = 4;

template <std::int32_t Wave> float WaveValue(float t, float width) {
    if constexpr (Wave == Sawtooth) {
        return X(t) - 0.5L;
    } else if constexpr (Wave == Square) {
        return t < width ? 0.5f : -0.5f;
    } else if constexpr (Wave == Triangle) {
        return TriangleShape(t); // twice the peak of the others
    } else {
        (void)t, (void)width;
        return 0;
    }
}

// Advances a phase by one oversampled step and returns the oscillator's value there.
// The phase advances whatever the waveform, also when the oscillator is off.
template <std::int32_t Wave> float OscillatorStep(float& phase, float increment, float width) {
    float t = X(phase) + increment;
    if (t >= 1)
        t = X(t) - 1;
    phase = t;
    return WaveValue<Wave>(t, width);
}

// The flush of the hot path, as a compare of the stored bits: a single is below the
// extended threshold in magnitude exactly when its magnitude bits lie below those of
// the smallest single at or above the threshold (checked for all 2^32 patterns, NaNs
// and signed zeros included). The value is in memory anyway, as it was just rounded.
constexpr std::uint32_t kFlushBits = [] {
    float f = static_cast<float>(kFlushThreshold);
    std::uint32_t bits = std::bit_cast<std::uint32_t>(f);
    return f < kFlushThreshold ? bits + 1 : bits;
}();
constexpr std::uint32_t kMagnitudeBits = 0x7fffffffu;

inline float FlushStored(float v) {
    return (std::bit_cast<std::uint32_t>(v) & kMagnitudeBits) < kFlushBits ? 0.0f : v;
}

inline void FlushInPlace(float& v) {
    v = FlushStored(v);
}

// CascadeFilter with DecimatorCascade, step for step, for one oversampled step. Only
// the last of every four steps needs the filter's output; the others only move its
// state on, so they leave out the output stage, which nothing else depends on.
template <bool WantOutput>
[[gnu::always_inline]] inline float DecimatorStep(TBiquadState& state, float x) {
    const TBiquadCascade& c = DecimatorCascade;
    const X s1 = state[1], s2 = state[2];
    state[2] = state[1];
    state[1] = (X(c[0]) * x + X(c[1]) * s1) + X(c[2]) * s2; // w1
    FlushInPlace(state[1]);
    const float u = FlushStored((X(c[3]) * state[1] + X(c[4]) * s1) + X(c[5]) * s2);

    const X s4 = state[4], s5 = state[5];
    state[5] = state[4];
    state[4] = (X(c[6]) * s4 + u) + X(c[7]) * s5; // w2
    FlushInPlace(state[4]);
    if constexpr (WantOutput)
        return FlushStored((X(c[8]) * state[4] + X(c[9]) * s4) + X(c[10]) * s5);
    else
        return 0;
}

// Four steps at 88200 Hz through the anti-alias low-pass; only the last output is kept,
// the others live on in the filter state.
template <std::int32_t Wave1, std::int32_t Wave2>
[[gnu::always_inline]] inline float RenderOscillatorPair(const SynthState& s, TSynthVoice& v,
                                                         float inc1, float inc2) {
    float phase1 = v.Osc1Phase, phase2 = v.Osc2Phase;
    const float width1 = s.Osc1Width, width2 = s.Osc2Width;
    const float volume1 = s.Osc1Volume, volume2 = s.Osc2Volume;
    // Oscillator 2's product is added to the sum before the one rounding.
    auto sum = [&] {
        float first = X(OscillatorStep<Wave1>(phase1, inc1, width1)) * volume1;
        return static_cast<float>(X(OscillatorStep<Wave2>(phase2, inc2, width2)) * volume2 + first);
    };
    // Written out step by step: a loop here is not unrolled at -O2 and costs a tenth.
    DecimatorStep<false>(v.DecimatorState, sum());
    DecimatorStep<false>(v.DecimatorState, sum());
    DecimatorStep<false>(v.DecimatorState, sum());
    float out = DecimatorStep<true>(v.DecimatorState, sum());
    v.Osc1Phase = phase1;
    v.Osc2Phase = phase2;
    return out;
}

// One sample of the four-pole ladder; LadderY4 is both the output and the feedback.
[[gnu::always_inline]] inline void Ladder(TSynthVoice& v, float in, float k, float p, float r) {
    float x = X(in) - X(r) * v.LadderY4;
    v.LadderY1 = (X(x) * p + X(v.LadderOldX) * p) - X(k) * v.LadderY1;
    FlushInPlace(v.LadderY1);
    v.LadderY2 = (X(v.LadderY1) * p + X(v.LadderOldY1) * p) - X(k) * v.LadderY2;
    FlushInPlace(v.LadderY2);
    v.LadderY3 = (X(v.LadderY2) * p + X(v.LadderOldY2) * p) - X(k) * v.LadderY3;
    FlushInPlace(v.LadderY3);
    v.LadderY4 = (X(v.LadderY3) * p + X(v.LadderOldY3) * p) - X(k) * v.LadderY4;
    if (v.LadderY4 > kLadderClamp || v.LadderY4 < -kLadderClamp)
        v.LadderY4 = v.LadderY4 >= 0 ? kLadderClamp : -kLadderClamp;
    // The cubic soft saturation peaks at 0.9428 (y = sqrt 2) within the clamp.
    v.LadderY4 = X(v.LadderY4) - (X(v.LadderY4) * v.LadderY4) * v.LadderY4 / 6;
    FlushInPlace(v.LadderY4);
    // The input is remembered as stored, before any flush; the stages after theirs.
    v.LadderOldX = x;
    v.LadderOldY1 = v.LadderY1;
    v.LadderOldY2 = v.LadderY2;
    v.LadderOldY3 = v.LadderY3;
}

// RenderVoice for one pair of waveforms. One instance per pair, chosen once per block,
// keeps the waveform choice out of the oversampled loop.
template <std::int32_t Wave1, std::int32_t Wave2>
bool RenderVoiceWith(SynthState& s, TSynthVoice& voice, VoiceSetup& setup, int L,
                     float& accumulator) {
    if (AdvanceEnvelope(s.Vca, voice.VcaLevel, voice.VcaStage)) {
        NoteOff(s, voice.Key);
        return true;
    }
    if (AdvanceEnvelope(s.Vcf, voice.VcfLevel, voice.VcfStage))
        voice.VcfLevel = 0; // the filter envelope rests at 0; the voice goes on

    float inc1 = X(s.TuningRatio) * setup.Pitch1[L];
    float inc2 = X(s.TuningRatio) * setup.Pitch2[L];
    float signal = RenderOscillatorPair<Wave1, Wave2>(s, voice, inc1, inc2);

    if (s.NoiseLevel > 0) {
        int n = static_cast<int>(DrawNoise(s));
        signal = X(n * s.NoiseLevel) / kNoiseDivisor + signal;
    }

    // The cutoff follows the filter envelope, or the amplitude envelope without it.
    float env = s.UseVcfEnvelope ? voice.VcfLevel : voice.VcaLevel;
    if (!(env == setup.TunedForEnvelope)) {
        setup.Tuning = ComputeLadderCoefficients(s, env, setup.Semitone, setup.VelocityOctaves);
        setup.TunedForEnvelope = env;
    }
    Ladder(voice, signal, setup.Tuning.k, setup.Tuning.p, setup.Tuning.r);
    accumulator =
        ((X(voice.LadderY4) * voice.VcaLevel) * kOutputScale) * voice.VelocityGain + accumulator;
    return false;
}

template <std::int32_t Wave1, std::size_t... Wave2>
constexpr std::array<VoiceRoutine, kWaveCodes> RoutinesWithFirst(std::index_sequence<Wave2...>) {
    return {&RenderVoiceWith<Wave1, static_cast<std::int32_t>(Wave2)>...};
}

// Indexed by the waveform codes of oscillators 1 and 2.
constexpr std::array<std::array<VoiceRoutine, kWaveCodes>, kWaveCodes> kVoiceRoutines = {
    RoutinesWithFirst<Off>(std::make_index_sequence<kWaveCodes>{}),
    RoutinesWithFirst<Sawtooth>(std::make_index_sequence<kWaveCodes>{}),
    RoutinesWithFirst<Square>(std::make_index_sequence<kWaveCodes>{}),
    RoutinesWithFirst<Triangle>(std::make_index_sequence<kWaveCodes>{})};

// Any code but those of the three waveforms switches the oscillator off.
std::size_t RoutineIndex(std::int32_t wave) {
    return wave >= Sawtooth && wave <= Triangle ? static_cast<std::size_t>(wave) : std::size_t{Off};
}

} // namespace

std::uint32_t DrawNoise(RunningState& s) {
    s.NoiseSeed = s.NoiseSeed * 134775813u + 1u;
    // The upper half of seed x 1000 spreads the 32-bit seed evenly over 0..999.
    return static_cast<std::uint32_t>((std::uint64_t{s.NoiseSeed} * 1000u) >> 32);
}

float Waveform(std::int32_t wave, float t, float width) {
    switch (wave) {
    case Sawtooth:
        return WaveValue<Sawtooth>(t, width);
    case Square:
        return WaveValue<Square>(t, width);
    case Triangle:
        return WaveValue<Triangle>(t, width);
    default:
        return WaveValue<Off>(t, width);
    }
}

long double Exp2(long double e) {
#if defined(__x86_64__) || defined(__i386__)
    // The C library's exp2l takes 1 + e below 2^-65, where 2^e rounds to it anyway.
    if (!(std::fabs(e) >= 0x1p-65L))
        return 1 + e;
    long double n;
    asm("frndint" : "=t"(n) : "0"(e)); // to nearest, as the control word stands
    long double power;
    asm("f2xm1" : "=t"(power) : "0"(e - n)); // 2^f - 1 for |f| <= 1/2; e - n is exact
    power += 1;
    asm("fscale" : "=t"(power) : "0"(power), "u"(n)); // times 2^n, exact
    return power;
#else
    return std::exp2(e);
#endif
}

LadderCoefficients ComputeLadderCoefficients(const SynthState& s, float env, int semitone,
                                             float velocityOctaves) {
    LadderCoefficients c;
    // The cutoff rises with the envelope (four octaves at full intensity), follows the
    // key one semitone per semitone and moves with the velocity; 2^e stays extended
    // until the product is stored.
    X e = ((X(env) * 4 * s.VcfIntensity) / 100 + X(semitone - kNeutralSemitone) / 12) +
          velocityOctaves;
    float f = Exp2(e) * s.CutoffHz;
    c.fc = (2 * X(f)) / kSampleRate;
    if (c.fc >= 1)
        c.fc = 1;

    const LadderTuning tuning = TuneLadder(c.fc);
    c.k = tuning.k;
    c.p = tuning.p;
    int j = static_cast<int>(X(c.fc) * kResonanceSteps); // truncated, not rounded

    float res = s.Resonance;
    if (res >= 1)
        res = kMaxResonance;
    c.r = X(s.Tables->ResonanceScaleTable[j]) * res;
    return c;
}

VoiceSetup SetUpVoice(const SynthState& s, const TSynthVoice& voice, int P1, int P2) {
    VoiceSetup setup;
    setup.Pitch1 =
        &s.Tables->PitchTable[std::clamp(P1, PitchSteps::kLowestBase, PitchSteps::kHighestBase)];
    setup.Pitch2 =
        &s.Tables->PitchTable[std::clamp(P2, PitchSteps::kLowestBase, PitchSteps::kHighestBase)];
    setup.Semitone = voice.Semitone;
    setup.VelocityOctaves = voice.VelocityOctaves;
    setup.Render = kVoiceRoutines[RoutineIndex(s.Osc1Wave)][RoutineIndex(s.Osc2Wave)];
    // No envelope level is NaN, so the first sample works the tuning out.
    setup.TunedForEnvelope = std::numeric_limits<float>::quiet_NaN();
    return setup;
}

bool RenderVoice(SynthState& s, TSynthVoice& voice, int P1, int P2, int L, float& accumulator) {
    VoiceSetup setup = SetUpVoice(s, voice, P1, P2);
    return RenderVoice(s, voice, setup, L, accumulator);
}

bool RenderVoice(SynthState& s, TSynthVoice& voice, VoiceSetup& setup, int L, float& accumulator) {
    return setup.Render(s, voice, setup, L, accumulator);
}

} // namespace morvane
