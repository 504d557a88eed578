#include "engine/synth_state.h"

#include <cmath>

namespace morvane {

namespace {

constexpr long double kLn2 = 0.693147180559945309417232121458176568L;
// A0 (27.5 Hz) as a phase step per 88200 Hz sub-step: 27.5 / 88200 = 6.875 / 22050.
// The table's extra 2^0.25 (three semitones) starts it at C1, 32.703 Hz.
constexpr long double kPitchBase = 6.875L / 22050.0L;
constexpr long double kResonanceExponent = 1.386249L;

} // namespace

void InitialiseRunningState(SynthState& s) {
    s.CtrlHeld = false;
    s.ModAlwaysOn = false;
    s.ModSquare = false;
    s.Voices.fill(TSynthVoice{});
    s.VoiceOrder.fill(-1);
    s.LfoPhase = 0;
    s.EchoLine.fill(0.0f);
    s.EchoPos = 0;
}

// Entry j is the LFO phase step per output sample for a j Hz LFO.
void BuildLfoIncrementTable(SynthState& s) {
    constexpr long double kSamplePeriod = 1.0L / kSampleRate;
    for (int j = 0; j < kLfoIncrementTableSize; ++j)
        s.LfoIncrementTable[j] = static_cast<long double>(j) * kSamplePeriod;
}

// Entry l is the oscillator phase step per 88200 Hz sub-step for the pitch
// 32.703 Hz * 2^(l/1440): 1440 entries to the octave, 120 to the semitone.
void BuildPitchTable(SynthState& s) {
    for (int l = 0; l < kPitchTableSize; ++l) {
        long double exponent = static_cast<long double>(l) / 1440.0L + 0.25L;
        // 2^exponent as e^(exponent * ln 2); the exponent always has a fraction (0.25).
        long double power = std::exp(exponent * kLn2);
        s.PitchTable[l] = power * kPitchBase;
    }
}

// Entry l is the ladder's resonance compensation for the normalised cutoff l/10000;
// each intermediate is rounded to single where it is stored, as the ladder does.
void BuildResonanceScaleTable(SynthState& s) {
    for (int l = 0; l < kResonanceScaleTableSize; ++l) {
        float u = static_cast<long double>(l) / 10000.0L;
        float k = (3.6L * u - (1.6L * u) * u) - 1;
        float p = (static_cast<long double>(k) + 1) * 0.5L;
        s.ResonanceScaleTable[l] = std::exp((1 - static_cast<long double>(p)) * kResonanceExponent);
    }
}

} // namespace morvane
