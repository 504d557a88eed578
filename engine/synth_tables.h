#pragma once

#include <array>
#include <memory>

namespace morvane {

inline constexpr int kSampleRate = 22050;
inline constexpr int kPitchStepsPerSemitone = 120;
inline constexpr int kPitchStepsPerOctave = 1440;
// Pitch indices beyond these ends read the entry at the nearer end. Index 0 is C1; the
// keys with the octave switches, the chorus and the LFO reach 0..8639, keyless notes,
// the octaves and the bend -7560..17052.
inline constexpr int kLowestPitch = -7680;
inline constexpr int kHighestPitch = 14399;
// The most the LFO moves a pitch either way (a triangle at depth 100: a quarter octave).
inline constexpr int kLfoReach = 360;
inline constexpr int kLfoIncrementTableSize = 201;
inline constexpr int kResonanceScaleTableSize = 10001;

// Entry l for every l from kLowestPitch - 2 kLfoReach to kHighestPitch + 2 kLfoReach, those
// beyond the ends copies of the end entries: a base index clamped to within kLfoReach of
// the stored range then reads, at any LFO offset, what the clamped sum would read.
class PitchSteps {
public:
    static constexpr int kLowestStored = kLowestPitch - 2 * kLfoReach;
    static constexpr int kHighestStored = kHighestPitch + 2 * kLfoReach;
    static constexpr int kLowestBase = kLowestPitch - kLfoReach;
    static constexpr int kHighestBase = kHighestPitch + kLfoReach;

    const float& operator[](int l) const { return entries_[l - kLowestStored]; }
    float& operator[](int l) { return entries_[l - kLowestStored]; }

private:
    std::array<float, kHighestStored - kLowestStored + 1> entries_{};
};

// The renderer's lookup tables. They depend on nothing that can change, so they are
// built once and only read after that, by any number of players on any thread.
struct SynthTables {
    // Entry l: the oscillator phase step per 88200 Hz sub-step for 32.703 Hz * 2^(l/1440).
    PitchSteps PitchTable;
    // Entry l: the ladder's resonance compensation for the normalised cutoff l/10000.
    std::array<float, kResonanceScaleTableSize> ResonanceScaleTable{};
    // Entry j: the LFO phase step per output sample for a j Hz LFO.
    std::array<float, kLfoIncrementTableSize> LfoIncrementTable{};
};

// The process's one set of tables, built on the first call (which is safe from any
// thread) and shared by every caller.
std::shared_ptr<const SynthTables> SharedSynthTables();

} // namespace morvane
