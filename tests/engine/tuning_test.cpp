#include "engine/tuning.h"

#include <gtest/gtest.h>

#include <memory>

using namespace morvane;

TEST(Tuning, RatioIsTheTuningOver4400RoundedToSingle) {
    auto s = std::make_unique<SynthState>();
    ApplyTuning(*s, 4400);
    EXPECT_EQ(s->TuningRatio, 1.0f);
    ApplyTuning(*s, 4300);
    EXPECT_EQ(s->TuningRatio, 0.97727275f);
    ApplyTuning(*s, 4700);
    EXPECT_EQ(s->TuningRatio, 1.0681819f);
    EXPECT_EQ(s->Tuning, 4700);
}

TEST(Tuning, ValuesOutsideTheControlsRangeAreKeptButNotZeroOrBelow) {
    auto s = std::make_unique<SynthState>();
    ApplyTuning(*s, 5000);
    EXPECT_EQ(s->Tuning, 5000);
    EXPECT_EQ(s->TuningRatio, 1.1363636f);
    for (int bad : {0, -4400}) {
        ApplyTuning(*s, bad);
        EXPECT_EQ(s->Tuning, 4400);
        EXPECT_EQ(s->TuningRatio, 1.0f);
    }
}

TEST(Tuning, LabelShowsHertzWithOneDecimal) {
    EXPECT_EQ(TuningLabel(4400), "440.0");
    EXPECT_EQ(TuningLabel(4398), "439.8");
    EXPECT_EQ(TuningLabel(4700), "470.0");
    EXPECT_EQ(TuningLabel(5000), "500.0");
}
