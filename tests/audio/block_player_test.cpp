#include "audio/block_player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "audio/wave_out.h"
#include "tests/support/manual_wave_out.h"

using namespace morvane;
using Step = ManualWaveOut::Step;

namespace {

// count blocks; block n (counting from 1) is filled with n.
NextBlock Blocks(int count) {
    return [count, n = 0](std::int16_t* block) mutable {
        if (n == count)
            return false;
        std::fill_n(block, kBlockSamples, static_cast<std::int16_t>(++n));
        return true;
    };
}

} // namespace

TEST(BlockPlayer, PlaysEveryBlockInOrderBehindThePrimingSilenceAndLetsItPlayOut) {
    ManualWaveOut device;
    auto outcome = PlayBlocks(device, Blocks(40));
    EXPECT_TRUE(outcome.ok());

    const auto& written = device.Written();
    ASSERT_EQ(written.size(), static_cast<std::size_t>(kPrimeCount + 40));
    for (int i = 0; i < kPrimeCount + 40; ++i) {
        std::int16_t expected =
            i < kPrimeCount ? 0 : static_cast<std::int16_t>(i - kPrimeCount + 1);
        EXPECT_EQ(written[i].front(), expected);
        EXPECT_EQ(written[i].back(), expected);
    }
    EXPECT_FALSE(device.IsOpen());
}

TEST(BlockPlayer, ReportsADeviceThatCannotBeOpened) {
    ManualWaveOut device;
    device.FailNext(Step::Open);
    auto outcome = PlayBlocks(device, Blocks(3));
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().message, "Problem creating play handle");
}

TEST(BlockPlayer, GivesUpWhenPrimingFails) {
    ManualWaveOut device;
    device.FailNext(Step::Prepare, 1);
    auto outcome = PlayBlocks(device, Blocks(3));
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().message, "Out Prepare error");
    EXPECT_FALSE(device.IsOpen());
}

TEST(BlockPlayer, EndsWhenFailedWritesLeaveNothingQueued) {
    ManualWaveOut device;
    int asked = 0;
    auto outcome = PlayBlocks(device, [&](std::int16_t*) {
        device.FailNext(Step::Write);
        return ++asked < 100;
    });
    ASSERT_FALSE(outcome.ok());
    std::string expected = "Wave out error"; // a line for each buffer that was out
    for (int i = 1; i < kMaxInFlight; ++i)
        expected += "\nWave out error";
    EXPECT_EQ(outcome.error().message, expected);
    EXPECT_EQ(asked, kMaxInFlight);
    EXPECT_FALSE(device.IsOpen());
}
