#include "engine/synth_tables.h"

#include <algorithm>
#include <cmath>

#include "engine/ladder_tuning.h"

namespace morvane {

namespace {

constexpr long double kLn2 = 0.693147180559945309417232121458176568L;
// A0 (27.5 Hz) as a phase step per 88200 Hz sub-step: 27.5 / 88200 = 6.875 / 22050.
// The table's extra 2^0.25 (three semitones) starts it at C1, 32.703 Hz.
constexpr long double kPitchBase = 6.875L / 22050.0L;
constexpr long double kResonanceExponent = 1.386249L;

void BuildLfoIncrementTable(SynthTables& t) {
    constexpr long double kSamplePeriod = 1.0L / kSampleRate;
    for (int j = 0; j < kLfoIncrementTableSize; ++j)
        t.LfoIncrementTable[j] = static_cast<long double>(j) * kSamplePeriod;
}

// 1440 entries to the octave, 120 to the semitone.
void BuildPitchTable(SynthTables& t) {
    for (int l = PitchSteps::kLowestStored; l <= PitchSteps::kHighestStored; ++l) {
        const int clamped = std::clamp(l, kLowestPitch, kHighestPitch);
        long double exponent = static_cast<long double>(clamped) / 1440.0L + 0.25L;
        // 2^exponent as e^(exponent * ln 2), as the table has always been worked out.
        long double power = std::exp(exponent * kLn2);
        t.PitchTable[l] = power * kPitchBase;
    }
}

// Each intermediate is rounded to single where it is stored, as the ladder does.
void BuildResonanceScaleTable(SynthTables& t) {
    for (int l = 0; l < kResonanceScaleTableSize; ++l) {
        float u = static_cast<long double>(l) / 10000.0L;
        float p = TuneLadder(u).p;
        t.ResonanceScaleTable[l] = std::exp((1 - static_cast<long double>(p)) * kResonanceExponent);
    }
}

std::shared_ptr<const SynthTables> BuildSynthTables() {
    auto t = std::make_shared<SynthTables>();
    BuildLfoIncrementTable(*t);
    BuildPitchTable(*t);
    BuildResonanceScaleTable(*t);
    return t;
}

} // namespace

std::shared_ptr<const SynthTables> SharedSynthTables() {
    static const std::shared_ptr<const SynthTables> tables = BuildSynthTables();
    return tables;
}

} // namespace morvane
