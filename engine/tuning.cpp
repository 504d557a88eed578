#include "engine/tuning.h"

namespace morvane {

void ApplyTuning(SoundParameters& s, int tuning) {
    if (tuning <= 0)
        tuning = kDefaultTuning;
    s.Tuning = tuning;
    s.TuningRatio = static_cast<long double>(tuning) / kDefaultTuning;
}

std::string TuningLabel(int tuning) {
    return std::to_string(tuning / 10) + "." + std::to_string(tuning % 10);
}

} // namespace morvane
