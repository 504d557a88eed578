#pragma once

#include <cstdint>
#include <type_traits>

namespace morvane {

inline constexpr int kDefaultTuning = 4400; // A = 440.0 Hz, in tenths of a hertz

struct EnvelopeParameters {
    std::int32_t AttackPos = 0, DecayPos = 0, SustainPos = 0, ReleasePos = 0; // 0..100
    float AttackTime = 0;   // samples, (pos + 1) * 220.5
    float DecayTime = 0;    // samples
    float SustainLevel = 0; // 0..1
    float ReleaseTime = 0;  // samples

    bool operator==(const EnvelopeParameters&) const = default;
};

// The sound as the panel and the tuning set it: what the control handlers and
// ApplyTuning write, and the renderer only reads. A value: two players whose
// parameters compare equal sound alike from equal running states.
struct SoundParameters {
    EnvelopeParameters Vca; // VcaAttackPos .. VcaReleaseTime
    EnvelopeParameters Vcf; // VcfAttackPos .. VcfReleaseTime
    bool UseVcfEnvelope = false;
    std::int32_t CutoffHz = 0;            // 11..11025
    std::int32_t VcfIntensity = 0;        // 0..100
    float Resonance = 0;                  // 0..0.90
    std::int32_t NoiseLevel = 0;          // 0..100
    float Osc1Volume = 0, Osc2Volume = 0; // 0..1
    std::int32_t Osc1WidthPos = 0, Osc2WidthPos = 0;
    float Osc1Width = 0, Osc2Width = 0;          // phase below which the square is high
    std::int32_t DistortionLevel = 0;            // 0..100, 0 switches distortion off
    std::int32_t DistortionVolume = 0;           // percent
    std::int32_t Osc1Wave = 0, Osc2Wave = 0;     // 0 off, 1 saw, 2 square, 3 triangle
    std::int32_t Osc1Octave = 0, Osc2Octave = 0; // 0 low, 1 middle, 2 high
    float TuningRatio = 0;                       // Tuning / 4400
    std::int32_t Tuning = 0;                     // A in tenths of a hertz
    std::int32_t ModDepth = 0;                   // 0..100
    std::int32_t ModFreq = 0;                    // whole Hz, 1..20
    bool ModAlwaysOn = false;
    bool ModSquare = false;
    std::int32_t EchoDepth = 0;  // 0..100
    std::int32_t EchoTimeMs = 0; // 50..200

    // The state of the chorus check box, which has no handler of its own; the block
    // renderer takes it once at the start of every block.
    bool ChorusChecked = false;

    bool operator==(const SoundParameters&) const = default;
};

// Plain bytes, so that a whole sound can be handed to another thread by copying it.
static_assert(std::is_trivially_copyable_v<SoundParameters>);

} // namespace morvane
