#pragma once

namespace morvane {

// The four-pole ladder's empirical tuning for a normalised cutoff fc (1 is half the
// output rate): k = 3.6 fc - 1.6 fc^2 - 1 and p = (k + 1) / 2, each evaluated in
// extended precision and rounded to single where it is stored, p from the stored k.
struct LadderTuning {
    float k = 0;
    float p = 0;
};

inline LadderTuning TuneLadder(float fc) {
    using X = long double;
    constexpr X kLinear = 3.6L;
    constexpr X kQuadratic = 1.6L;
    LadderTuning t;
    t.k = (kLinear * fc - kQuadratic * fc * fc) - 1;
    t.p = (X(t.k) + 1) * 0.5L;
    return t;
}

} // namespace morvane
