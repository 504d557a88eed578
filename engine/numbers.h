#pragma once

// The engine's arithmetic contract: every formula is evaluated in x87 extended precision
// (long double, 64-bit significand) and rounded to single once, where its result is
// stored. The formulas widen their operands explicitly, and a float on x86-64 lives in
// SSE registers, rounded whenever it is assigned, so this needs no compiler flag; the
// build forbids fused multiply-adds and fast-math, and adds -fexcess-precision=standard
// only where the compiler accepts it (GCC 12 takes it for C, not for C++).
namespace morvane {

// Recursive filter values below this magnitude are stored as exact zero.
inline constexpr long double kFlushThreshold = 1e-10L;

inline float Flush(float v) {
    return (v < kFlushThreshold && v > -kFlushThreshold) ? 0.0f : v;
}

} // namespace morvane
