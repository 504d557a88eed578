#include "engine/filter.h"

#include <gtest/gtest.h>

#include <vector>

using namespace morvane;

namespace {

std::vector<float> ImpulseResponse(const TBiquadCascade& c, int length) {
    TBiquadState state{};
    std::vector<float> out;
    for (int n = 0; n < length; ++n)
        out.push_back(CascadeFilter(c, state, n == 0 ? 1.0f : 0.0f));
    return out;
}

float Settle(const TBiquadCascade& c, TBiquadState& state) {
    float y = 0;
    for (int n = 0; n < 5000; ++n)
        y = CascadeFilter(c, state, 1.0f);
    return y;
}

} // namespace

TEST(CascadeFilter, ImpulseResponsesToTheBit) {
    EXPECT_EQ(ImpulseResponse(DecimatorCascade, 6),
              (std::vector<float>{0.024848951f, 0.06406744f, 0.12972541f, 0.18926767f, 0.23024432f,
                                  0.2297167f}));
    EXPECT_EQ(ImpulseResponse(DistortionCascade, 6),
              (std::vector<float>{0.03418733f, 0.1734743f, 0.36231437f, 0.38735777f, 0.18734434f,
                                  -0.03720849f}));
}

TEST(CascadeFilter, ConstantInputSettles) {
    TBiquadState state{};
    EXPECT_NEAR(Settle(DecimatorCascade, state), 0.944061, 5e-7);
    EXPECT_NEAR(state[1], 0.98983, 5e-6);
    EXPECT_NEAR(state[2], 0.98983, 5e-6);
    TBiquadState distortion{};
    EXPECT_NEAR(Settle(DistortionCascade, distortion), 1.0, 1e-6);
}

TEST(CascadeFilter, SilenceAndTinyValuesStayExactlyZero) {
    for (const TBiquadCascade* c : {&DecimatorCascade, &DistortionCascade}) {
        TBiquadState state{};
        EXPECT_EQ(CascadeFilter(*c, state, 0.0f), 0.0f);
        EXPECT_EQ(CascadeFilter(*c, state, 1e-12f), 0.0f);
        EXPECT_EQ(state, TBiquadState{});
    }
}

TEST(CascadeFilter, UnusedSlotsAreNeitherReadNorWritten) {
    TBiquadState clean{};
    TBiquadState marked{};
    marked[0] = 1234.5f;
    marked[3] = -99.0f;
    for (int n = 0; n < 20; ++n) {
        float x = n == 0 ? 1.0f : 0.25f;
        EXPECT_EQ(CascadeFilter(DecimatorCascade, clean, x),
                  CascadeFilter(DecimatorCascade, marked, x));
    }
    EXPECT_EQ(marked[0], 1234.5f);
    EXPECT_EQ(marked[3], -99.0f);
}
