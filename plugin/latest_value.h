#pragma once

#include <array>
#include <atomic>

namespace morvane::lv2 {

// A value one thread publishes and another takes the latest of, neither ever waiting for
// the other: three copies, one the writer's, one the reader's and one between them, traded
// by index. The writer may be an audio thread; the reader takes what was last published,
// whole, however the two interleave.
template <typename T> class LatestValue {
public:
    explicit LatestValue(const T& initial) { slots_.fill(initial); }

    // The writer's side.
    void Publish(const T& value) noexcept {
        slots_[writing_] = value;
        writing_ = middle_.exchange(writing_ | kFresh, std::memory_order_acq_rel) & kIndex;
    }

    // The reader's side.
    const T& Latest() noexcept {
        if (middle_.load(std::memory_order_acquire) & kFresh)
            reading_ = middle_.exchange(reading_, std::memory_order_acq_rel) & kIndex;
        return slots_[reading_];
    }

private:
    static constexpr unsigned kIndex = 3;
    static constexpr unsigned kFresh = 4;

    std::array<T, 3> slots_;
    unsigned writing_ = 0;
    unsigned reading_ = 1;
    std::atomic<unsigned> middle_{2};
};

} // namespace morvane::lv2
