#pragma once

#include <array>
#include <memory>

namespace morvane {

inline constexpr int kSampleRate = 22050;
inline constexpr int kPitchTableSize = 8640; // six octaves of 1440 steps
inline constexpr int kPitchStepsPerSemitone = 120;
inline constexpr int kPitchStepsPerOctave = 1440;
inline constexpr int kLfoIncrementTableSize = 201;
inline constexpr int kResonanceScaleTableSize = 10001;

// The renderer's lookup tables. They depend on nothing that can change, so they are
// built once and only read after that, by any number of players on any thread.
struct SynthTables {
    // Entry l: the oscillator phase step per 88200 Hz sub-step for 32.703 Hz * 2^(l/1440).
    std::array<float, kPitchTableSize> PitchTable{};
    // Entry l: the ladder's resonance compensation for the normalised cutoff l/10000.
    std::array<float, kResonanceScaleTableSize> ResonanceScaleTable{};
    // Entry j: the LFO phase step per output sample for a j Hz LFO.
    std::array<float, kLfoIncrementTableSize> LfoIncrementTable{};
};

// The process's one set of tables, built on the first call (which is safe from any
// thread) and shared by every caller.
std::shared_ptr<const SynthTables> SharedSynthTables();

} // namespace morvane
