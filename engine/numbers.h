#pragma once

// The engine's arithmetic contract: every formula is evaluated in x87 extended precision
// (long double, 64-bit significand) and rounded to single once, where its result is
// stored. The engine is built with -fexcess-precision=standard so that the compiler
// rounds exactly at those stores and nowhere else.
namespace morvane {

// Recursive filter values below this magnitude are stored as exact zero.
inline constexpr long double kFlushThreshold = 1e-10L;

inline float Flush(float v) {
    return (v < kFlushThreshold && v > -kFlushThreshold) ? 0.0f : v;
}

} // namespace morvane
