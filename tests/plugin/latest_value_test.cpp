#include "plugin/latest_value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <thread>

// A reader beside a writer that publishes without pause sees only whole values, never one
// older than it saw before, and at last the last one.
TEST(LatestValue, TheReaderSeesWholeValuesInOrder) {
    using Value = std::array<long, 64>;
    constexpr long kLast = 200'000;
    morvane::lv2::LatestValue<Value> shared(Value{});
    std::atomic<bool> done{false};
    std::thread writer([&] {
        Value value;
        for (long i = 1; i <= kLast; ++i) {
            value.fill(i);
            shared.Publish(value);
        }
        done.store(true);
    });
    long seen = 0;
    bool torn = false;
    bool backwards = false;
    for (bool last = false; !last;) {
        last = done.load();
        const Value& value = shared.Latest();
        torn = torn || std::ranges::any_of(value, [&](long v) { return v != value[0]; });
        backwards = backwards || value[0] < seen;
        seen = value[0];
    }
    writer.join();
    EXPECT_FALSE(torn);
    EXPECT_FALSE(backwards);
    EXPECT_EQ(seen, kLast);
}
