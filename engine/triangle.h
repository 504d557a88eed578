#pragma once

#include <cmath>

namespace morvane {

// The triangle that the oscillators and the LFO share: +1 at phase 0 and 1, -1 at 0.5,
// for a phase 0 <= t < 1; evaluated in extended precision, rounded to single once.
inline float TriangleShape(float t) {
    return (std::fabs(static_cast<long double>(t) - 0.5L) - 0.25L) * 4;
}

} // namespace morvane
