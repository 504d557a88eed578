#pragma once

#include <array>
#include <cstdint>

#include "engine/filter.h"
#include "engine/voice.h"

namespace morvane {

inline constexpr int kSampleRate = 22050;
inline constexpr int kBlockSamples = 441;    // 20 ms
inline constexpr int kEchoLineLength = 4410; // 200 ms, the longest echo time
inline constexpr int kPitchTableSize = 8640; // six octaves of 1440 steps
inline constexpr int kPitchStepsPerSemitone = 120;
inline constexpr int kPitchStepsPerOctave = 1440;
inline constexpr int kLfoIncrementTableSize = 201;
inline constexpr int kResonanceScaleTableSize = 10001;
inline constexpr int kDefaultTuning = 4400; // A = 440.0 Hz, in tenths of a hertz

// Told whenever a key's on-screen button must change its face: red while its note
// sounds, its resting colour otherwise. The on-screen keyboard implements it.
class KeyColourListener {
public:
    virtual ~KeyColourListener() = default;
    virtual void SetKeyColour(int key, bool pressed) = 0;
};

struct EnvelopeParameters {
    std::int32_t AttackPos = 0, DecayPos = 0, SustainPos = 0, ReleasePos = 0; // 0..100
    float AttackTime = 0;   // samples, (pos + 1) * 220.5
    float DecayTime = 0;    // samples
    float SustainLevel = 0; // 0..1
    float ReleaseTime = 0;  // samples
};

// The one set of sound parameters, running engine values and lookup tables. The main
// window (or the offline renderer) owns exactly one. Fields not set at start-up are 0.
struct SynthState {
    EnvelopeParameters Vca; // VcaAttackPos .. VcaReleaseTime
    EnvelopeParameters Vcf; // VcfAttackPos .. VcfReleaseTime
    bool UseVcfEnvelope = false;
    std::int32_t CutoffHz = 0;            // 11..11025
    std::int32_t VcfIntensity = 0;        // 0..100
    float Resonance = 0;                  // 0..0.90
    std::int32_t NoiseLevel = 0;          // 0..100
    float Osc1Volume = 0, Osc2Volume = 0; // 0..1
    std::int32_t Osc1WidthPos = 0, Osc2WidthPos = 0;
    float Osc1Width = 0, Osc2Width = 0; // phase below which the square is high
    std::int32_t DistortionLevel = 0;   // 0..100, 0 switches distortion off
    std::int32_t DistortionVolume = 0;  // percent
    TBiquadState DistortionFilterState{};
    std::int32_t Osc1Wave = 0, Osc2Wave = 0;     // 0 off, 1 saw, 2 square, 3 triangle
    std::int32_t Osc1Octave = 0, Osc2Octave = 0; // 0 low, 1 middle, 2 high
    float TuningRatio = 0;                       // Tuning / 4400
    std::int32_t Tuning = 0;                     // A in tenths of a hertz
    bool TuningDirty = false;
    std::int32_t ModDepth = 0; // 0..100
    std::int32_t ModFreq = 0;  // whole Hz, 1..20
    float LfoPhase = 0;        // periods, 0 <= phase < 1
    bool CtrlHeld = false;
    bool ModAlwaysOn = false;
    bool ModSquare = false;
    std::array<float, kEchoLineLength> EchoLine{};
    std::int32_t EchoPos = 0;
    std::int32_t EchoDepth = 0;  // 0..100
    std::int32_t EchoTimeMs = 0; // 50..200

    // The state of the chorus check box, which has no handler of its own; the block
    // renderer takes it once at the start of every block.
    bool ChorusChecked = false;

    // The single noise generator that every voice draws from; never reseeded.
    std::uint32_t NoiseSeed = 0;

    std::array<TSynthVoice, kVoiceCount> Voices{};
    // Voices in use: those not in release first, most recent first; -1 for empty.
    std::array<std::int32_t, kVoiceCount> VoiceOrder{-1, -1, -1, -1, -1};
    KeyColourListener* KeyColours = nullptr;

    std::array<float, kPitchTableSize> PitchTable{};
    std::array<float, kResonanceScaleTableSize> ResonanceScaleTable{};
    std::array<float, kLfoIncrementTableSize> LfoIncrementTable{};
};

// The running part of start-up: gate flags off, voices zeroed, VoiceOrder empty,
// LFO phase 0, echo line cleared.
void InitialiseRunningState(SynthState& s);

void BuildLfoIncrementTable(SynthState& s);
void BuildPitchTable(SynthState& s);
void BuildResonanceScaleTable(SynthState& s);

} // namespace morvane
