#include "audio/buffer_growth.h"

#include <algorithm>

#include "audio/realtime_output.h"

namespace morvane {

std::optional<double> BufferGrowth::Observe(long underruns, double bufferSeconds,
                                            Clock::time_point now) {
    if (!started_ || now < settledAt_ || now - windowStart_ > kWindow) {
        started_ = true;
        windowStart_ = now;
        underrunsAtWindowStart_ = underruns;
        return std::nullopt;
    }
    if (underruns - underrunsAtWindowStart_ < kUnderrunsToGrow || bufferSeconds <= 0 ||
        bufferSeconds >= kLargestBufferSeconds)
        return std::nullopt;
    grown_ = true;
    started_ = false;
    return std::min(2 * bufferSeconds, kLargestBufferSeconds);
}

void BufferGrowth::Restart(Clock::time_point now) {
    started_ = false;
    settledAt_ = now + kSettle;
}

} // namespace morvane
