#include "audio/buffer_growth.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using namespace morvane;
using namespace std::chrono_literals;

namespace {

struct Look {
    std::chrono::milliseconds at;
    long underruns;
    double bufferSeconds;
    std::optional<double> grows; // to this buffer
};

struct Case {
    const char* what;
    std::vector<Look> looks;
};

// The output's count as the owner reads it now and then, and what the buffer does.
TEST(BufferGrowth, GrowsOnlyWhileUnderrunsKeepComing) {
    const Case cases[] = {
        {"three within the window double the buffer",
         {{2s, 0, 0.020, std::nullopt}, {6s, 2, 0.020, std::nullopt}, {11s, 3, 0.020, 0.040}}},
        {"those of a stream still starting do not count",
         {{0ms, 0, 0.020, std::nullopt},
          {1s, 5, 0.020, std::nullopt},
          {3s, 6, 0.020, std::nullopt},
          {4s, 7, 0.020, std::nullopt}}},
        {"three spread over longer than the window leave it",
         {{2s, 0, 0.020, std::nullopt},
          {8s, 2, 0.020, std::nullopt},
          {13s, 2, 0.020, std::nullopt},
          {14s, 3, 0.020, std::nullopt}}},
        {"the last step stops at 100 ms", {{2s, 0, 0.080, std::nullopt}, {3s, 5, 0.080, 0.100}}},
        {"at 100 ms it stays", {{2s, 0, 0.100, std::nullopt}, {3s, 50, 0.100, std::nullopt}}},
        {"a server's own buffer never grows",
         {{2s, 0, 0.0, std::nullopt}, {3s, 50, 0.0, std::nullopt}}},
    };
    for (const Case& c : cases) {
        BufferGrowth growth;
        const auto start = BufferGrowth::Clock::time_point{} + 1h;
        growth.Restart(start);
        bool grew = false;
        for (const Look& look : c.looks) {
            const std::optional<double> grown =
                growth.Observe(look.underruns, look.bufferSeconds, start + look.at);
            EXPECT_EQ(grown, look.grows) << c.what << " at " << look.at.count() << " ms";
            grew = grew || grown.has_value();
        }
        EXPECT_EQ(growth.Grown(), grew) << c.what;
    }
}

} // namespace
