#pragma once

#include <cstdint>

#include "engine/synth_state.h"

namespace morvane {

// The four-pole ladder's tuning for one sample: the normalised cutoff fc (1 is half
// the output rate), k and p, and the compensated resonance r.
struct LadderCoefficients {
    float fc = 0;
    float k = 0;
    float p = 0;
    float r = 0;
};

struct VoiceSetup;

// RenderVoice for one pair of waveforms: the voice, its setup, LfoOffset, the accumulator.
using VoiceRoutine = bool (*)(SynthState&, TSynthVoice&, VoiceSetup&, int, float&);

// What RenderVoice needs of a voice that holds for a whole block, worked out once at
// the block's start: the pitch-table entries at the voice's two pitches (the LFO offset
// indexes from there), its semitone and velocity octaves, the renderer for the selected
// pair of waveforms, and the ladder tuning of the last sample with the envelope level
// it was worked out for (the tuning changes only with that level while the parameters
// hold).
struct VoiceSetup {
    const float* Pitch1 = nullptr;
    const float* Pitch2 = nullptr;
    int Semitone = 0;
    float VelocityOctaves = 0;
    VoiceRoutine Render = nullptr;
    float TunedForEnvelope = 0;
    LadderCoefficients Tuning;
};

// The setup of a voice for a block whose parameters are those of s now. P1 and P2 are
// the pitch-table indices of its two oscillators, bend included; beyond the table's ends
// they read its end entries.
VoiceSetup SetUpVoice(const SynthState& s, const TSynthVoice& voice, int P1, int P2);

// Adds what one sounding voice contributes to one output sample to the accumulator.
// P1 and P2 are the voice's pitch-table indices for its two oscillators, L the LFO
// offset of this sample. When the voice's release has died away the voice is freed
// through NoteOff, nothing is added, and the result is true: the caller must then end
// its voice loop for this sample.
bool RenderVoice(SynthState& s, TSynthVoice& voice, int P1, int P2, int L, float& accumulator);

// The same for a voice set up at the start of the block, as the block renderer does it.
bool RenderVoice(SynthState& s, TSynthVoice& voice, VoiceSetup& setup, int L, float& accumulator);

// One draw of the single noise generator shared by all voices: 0..999.
std::uint32_t DrawNoise(RunningState& s);

// The value of an oscillator at phase t (0 <= t < 1) for a waveform code: 1 sawtooth,
// 2 square (high below width), 3 triangle; 0 and any other code are silent.
float Waveform(std::int32_t wave, float t, float width);

// 2^e at extended precision, to the bit as the C library's exp2l gives it on x86: the
// same x87 instructions (round to an integer n, 2^(e-n) - 1, plus 1, scaled by 2^n)
// without the call and the error handling that finite exponents of this size never
// need. Elsewhere it is exp2l itself.
long double Exp2(long double e);

// The ladder's tuning when the cutoff envelope stands at env, for a key of the given
// semitone number, moved by the voice's velocity octaves.
LadderCoefficients ComputeLadderCoefficients(const SynthState& s, float env, int semitone,
                                             float velocityOctaves = 0);

} // namespace morvane
