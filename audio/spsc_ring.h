#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <optional>

namespace morvane {

// A fixed-size queue between one producer thread and one consumer thread, without locks
// or allocation, so that the audio callback can use it. Either side may be handed to
// another thread once the first has stopped (a thread join orders the two).
template <typename T, std::size_t Capacity> class SpscRing {
public:
    // False when full.
    bool Push(const T& value) {
        std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == Capacity)
            return false;
        slots_[tail % Capacity] = value;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    std::optional<T> Pop() {
        std::size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire))
            return std::nullopt;
        T value = slots_[head % Capacity];
        head_.store(head + 1, std::memory_order_release);
        return value;
    }

private:
    std::array<T, Capacity> slots_{};
    // Both count up for ever; their difference is the fill.
    std::atomic<std::size_t> head_{0};
    std::atomic<std::size_t> tail_{0};
};

} // namespace morvane
