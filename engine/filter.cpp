#include "engine/filter.h"

#include "engine/numbers.h"

namespace morvane {

const TBiquadCascade DecimatorCascade = {0.17535979f, 1.3405405f,  -0.5177021f, 0.10247719f,
                                         0.07117189f, 0.10247719f, 1.3670077f,  -0.8378818f,
                                         1.3827728f,  -1.139111f,  1.3827728f};

const TBiquadCascade DistortionCascade = {0.6330674f,  0.4542476f,  -0.08731501f, 0.18404436f,
                                          0.36808872f, 0.18404436f, 0.6199802f,   -0.4840229f,
                                          0.293422f,   0.586844f,   0.293422f};

// Each chain is summed in extended precision in exactly this order and rounded to
// single once, where it is stored; the flushes let a silent path settle at exact zero.
float CascadeFilter(const TBiquadCascade& c, TBiquadState& state, float x) {
    using X = long double;
    float w1 = (X(c[0]) * x + X(c[1]) * state[1]) + X(c[2]) * state[2];
    w1 = Flush(w1);
    float u = (X(c[3]) * w1 + X(c[4]) * state[1]) + X(c[5]) * state[2];
    u = Flush(u);
    state[2] = state[1];
    state[1] = w1;

    float w2 = (X(c[6]) * state[4] + u) + X(c[7]) * state[5];
    w2 = Flush(w2);
    float y = (X(c[8]) * w2 + X(c[9]) * state[4]) + X(c[10]) * state[5];
    y = Flush(y);
    state[5] = state[4];
    state[4] = w2;
    return y;
}

} // namespace morvane
