#pragma once

#include <array>

// Two second-order sections in cascade, direct form II, with fixed coefficients.
namespace morvane {

// g, then a1 a2 b0 b1 b2 of section 1, then a1 a2 b0 b1 b2 of section 2. The feedback
// coefficients a1, a2 are added, not subtracted (they are the negated denominator).
using TBiquadCascade = std::array<float, 11>;

// Slots 1, 2: w1(n-1), w1(n-2) of section 1; slots 4, 5: w2(n-1), w2(n-2) of section 2.
// Slots 0 and 3 are never read or written.
using TBiquadState = std::array<float, 6>;

// Anti-alias low-pass of the 4x oversampled oscillators (elliptic, at 88200 Hz).
extern const TBiquadCascade DecimatorCascade;
// Low-pass after the distortion (Butterworth, -3 dB at 4000 Hz, at 22050 Hz).
extern const TBiquadCascade DistortionCascade;

float CascadeFilter(const TBiquadCascade& c, TBiquadState& state, float x);

} // namespace morvane
