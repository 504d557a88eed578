#pragma once

#include <chrono>
#include <optional>

namespace morvane {

// When a low-latency buffer keeps underrunning (a path without real-time scheduling on a
// busy machine, say), it grows a step at a time, twice its size each step, up to the
// classic mode's lead; a lone underrun now and then leaves it as it is. The owner feeds
// the output's underrun count in now and then, reopens the output with the buffer it is
// told, and starts the count afresh with the new output.
class BufferGrowth {
public:
    using Clock = std::chrono::steady_clock;

    // This many underruns within the window make the buffer grow.
    static constexpr long kUnderrunsToGrow = 3;
    static constexpr std::chrono::seconds kWindow{10};
    // A stream that has just started may report underruns while its buffers first fill:
    // they are not counted.
    static constexpr std::chrono::seconds kSettle{2};

    // The buffer to reopen with, or nothing while it may stay. A buffer of 0 (a JACK
    // server sets its own) or at the largest size never grows.
    std::optional<double> Observe(long underruns, double bufferSeconds, Clock::time_point now);
    // A new output, whose count starts from 0.
    void Restart(Clock::time_point now);
    // Whether the buffer has grown since the program started.
    bool Grown() const { return grown_; }

private:
    Clock::time_point windowStart_{};
    Clock::time_point settledAt_{};
    long underrunsAtWindowStart_ = 0;
    bool started_ = false;
    bool grown_ = false;
};

} // namespace morvane
