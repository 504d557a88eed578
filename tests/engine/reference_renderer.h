#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "engine/filter.h"
#include "engine/keymap.h"
#include "engine/synth_state.h"
#include "engine/voice_pool.h"

// The engine's renderer written the plain way, one step after the other as the arithmetic reads:
// no voice set-up kept between calls, no cached ladder tuning, no routine per waveform pair, the
// library's exp2l, every flush a compare with the extended threshold. Tests render the
// same play through this and through the engine and demand the same bits, so that no
// shortcut of the engine can change a sample unnoticed.
namespace morvane::reference {

using X = long double;

inline float Flushed(float v) {
    return (X(v) < 1e-10L && X(v) > -1e-10L) ? 0.0f : v;
}

inline std::uint32_t DrawNoise(std::uint32_t& seed) {
    seed = seed * 134775813u + 1u;
    return static_cast<std::uint32_t>((std::uint64_t{seed} * 1000u) >> 32);
}

inline float WaveValue(std::int32_t wave, float t, float width) {
    switch (wave) {
    case 1:
        return X(t) - 0.5L;
    case 2:
        return t < width ? 0.5f : -0.5f;
    case 3:
        return (std::fabs(X(t) - 0.5L) - 0.25L) * 4;
    default:
        return 0;
    }
}

// The next envelope level; true when a release has fallen to 0.001 or below.
inline bool Envelope(const EnvelopeParameters& e, float& level, std::int32_t& stage) {
    switch (stage) {
    case 1:
        level = (2 - X(level)) / e.AttackTime + level;
        if (level >= 1) {
            level = 1;
            stage = 2;
        }
        return false;
    case 2:
        level = X(level) - (X(level) - e.SustainLevel) / e.DecayTime;
        if (!(level >= 0))
            level = 0;
        return false;
    case 4:
        level = X(level) - X(level) / e.ReleaseTime;
        return X(level) <= 0.001L;
    default:
        return false;
    }
}

inline float OscillatorStep(float& phase, float increment) {
    float t = X(phase) + increment;
    if (t >= 1)
        t = X(t) - 1;
    phase = t;
    return t;
}

// A key's semitone from the table; a keyless note n (key 41 + n) sounds semitone n - 36.
inline int Semitone(int key) {
    return key < kKeyCount ? KeyAt(key).Semitone : key - 41 - 36;
}

// sign(b) floor((2 |b R| + D) / (2 D)), D = 8191 above the centre, 8192 below.
inline int Bend(int b, int semitones) {
    const X r = 120 * semitones;
    const X d = b > 0 ? 8191 : 8192;
    const X magnitude = std::floor((2 * std::fabs(b * r) + d) / (2 * d));
    return static_cast<int>(b < 0 ? -magnitude : magnitude);
}

inline bool RenderVoice(SynthState& s, TSynthVoice& v, int P1, int P2, int L, float& mix) {
    if (Envelope(s.Vca, v.VcaLevel, v.VcaStage)) {
        NoteOff(s, v.Key);
        return true;
    }
    if (Envelope(s.Vcf, v.VcfLevel, v.VcfStage))
        v.VcfLevel = 0;

    const float inc1 = X(s.TuningRatio) * s.Tables->PitchTable[std::clamp(P1 + L, -7680, 14399)];
    const float inc2 = X(s.TuningRatio) * s.Tables->PitchTable[std::clamp(P2 + L, -7680, 14399)];
    float signal = 0;
    for (int step = 0; step < 4; ++step) {
        float sum = 0;
        float t = OscillatorStep(v.Osc1Phase, inc1);
        sum = X(WaveValue(s.Osc1Wave, t, s.Osc1Width)) * s.Osc1Volume + sum;
        t = OscillatorStep(v.Osc2Phase, inc2);
        sum = X(WaveValue(s.Osc2Wave, t, s.Osc2Width)) * s.Osc2Volume + sum;
        signal = CascadeFilter(DecimatorCascade, v.DecimatorState, sum);
    }

    if (s.NoiseLevel > 0) {
        const std::int64_t n = reference::DrawNoise(s.NoiseSeed);
        signal = X(n * s.NoiseLevel) / 50000 + signal;
    }

    float res = s.Resonance;
    if (res >= 1)
        res = 0.9f;

    const float env = s.UseVcfEnvelope ? v.VcfLevel : v.VcaLevel;
    const X e =
        (((X(env) * 4) * s.VcfIntensity) / 100 + X(Semitone(v.Key) - 9) / 12) + v.VelocityOctaves;
    const float f = std::exp2(e) * s.CutoffHz;
    float fc = (2 * X(f)) / 22050;
    if (fc >= 1)
        fc = 1;

    const float k = ((3.6L * fc) - ((1.6L * fc) * fc)) - 1;
    const float p = (X(k) + 1) * 0.5L;
    const int j = static_cast<int>(X(fc) * 10000);
    const float r = X(s.Tables->ResonanceScaleTable[j]) * res;

    const float x = X(signal) - X(r) * v.LadderY4;
    v.LadderY1 = Flushed((X(x) * p + X(v.LadderOldX) * p) - X(k) * v.LadderY1);
    v.LadderY2 = Flushed((X(v.LadderY1) * p + X(v.LadderOldY1) * p) - X(k) * v.LadderY2);
    v.LadderY3 = Flushed((X(v.LadderY2) * p + X(v.LadderOldY2) * p) - X(k) * v.LadderY3);
    float y4 = (X(v.LadderY3) * p + X(v.LadderOldY3) * p) - X(k) * v.LadderY4;
    if (std::fabs(y4) > 2)
        y4 = y4 >= 0 ? 2.0f : -2.0f;
    y4 = X(y4) - ((X(y4) * y4) * y4) / 6;
    v.LadderY4 = Flushed(y4);
    v.LadderOldX = x;
    v.LadderOldY1 = v.LadderY1;
    v.LadderOldY2 = v.LadderY2;
    v.LadderOldY3 = v.LadderY3;

    mix = ((X(v.LadderY4) * v.VcaLevel) * 10000) * v.VelocityGain + mix;
    return false;
}

inline int LfoOffset(SynthState& s) {
    s.LfoPhase = X(s.LfoPhase) + s.Tables->LfoIncrementTable[s.ModFreq];
    if (s.LfoPhase >= 1)
        s.LfoPhase = X(s.LfoPhase) - 1;
    float value;
    if (s.ModSquare) {
        value = s.LfoPhase >= 0.5f ? X(s.ModDepth) / 800 : X(-s.ModDepth) / 800;
    } else {
        const float t = (std::fabs(X(s.LfoPhase) - 0.5L) - 0.25L) * 4;
        value = (X(s.ModDepth) * t) / 400;
    }
    if (!s.CtrlHeld && !s.ModAlwaysOn)
        value = 0;
    else if (!s.ModAlwaysOn)
        value = (X(value) * s.WheelDepth) / 127;
    return static_cast<int>((X(value) * 12) * 120);
}

// Renders count samples from a cut point to the next (the caller cuts at every 441st
// sample): the voices' pitches, the LFO's run and the echo length as they stand at the
// cut.
inline void RenderBetweenCuts(SynthState& s, std::int16_t* target, int count) {
    const bool chorus = s.ChorusChecked;
    bool anyVoiceActive = false;
    std::array<int, kVoiceCount> base1{}, base2{}; // by voice record, not by position
    for (int position = 0; position < kVoiceCount; ++position) {
        const int v = s.VoiceOrder[position];
        if (v == -1)
            continue;
        anyVoiceActive = true;
        const int n = Semitone(s.Voices[v].Key);
        const int bend = Bend(s.PitchBend, s.BendRange);
        base1[v] = s.Osc1Octave * 1440 + n * 120 + bend;
        base2[v] = s.Osc2Octave * 1440 + n * 120 + (chorus ? 12 : 0) + bend;
    }
    const int echoLength = s.EchoTimeMs * 22050 / 1000;

    for (int i = 0; i < count; ++i) {
        float mix = 0;
        if (anyVoiceActive) {
            const int offset = LfoOffset(s);
            for (int position = 0; position < kVoiceCount; ++position) {
                const int v = s.VoiceOrder[position];
                if (v != -1 &&
                    reference::RenderVoice(s, s.Voices[v], base1[v], base2[v], offset, mix))
                    break;
            }
        }
        if (s.DistortionLevel != 0) {
            mix = (X(s.DistortionLevel) / 5 + 1) * mix;
            if (mix > 8191)
                mix = 8191;
            else if (mix < -8191)
                mix = -8191;
            mix = (X(CascadeFilter(DistortionCascade, s.DistortionFilterState, mix)) *
                   s.DistortionVolume) /
                  100;
        }
        mix = (X(s.EchoDepth) * s.EchoLine[s.EchoPos]) / 200 + mix;
        if (mix > 32767) {
            target[i] = 32767;
            mix = 32767;
        } else if (mix < -32767) {
            target[i] = -32767;
            mix = -32767;
        } else {
            target[i] = static_cast<std::int16_t>(mix);
        }
        if (std::fabs(X(mix)) < 1e-10L)
            mix = 0;
        s.EchoLine[s.EchoPos] = mix;
        if (++s.EchoPos >= echoLength)
            s.EchoPos = 0;
    }
}

inline void RenderBlock(SynthState& s, std::int16_t* target) {
    RenderBetweenCuts(s, target, kBlockSamples);
}

} // namespace morvane::reference
