#pragma once

#include <sys/types.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "audio/sample_source.h"
#include "base/result.h"

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_stream;
struct spa_io_position;

namespace morvane {

// Plays one mono stream as a native PipeWire client.
//
// - The stream's node is named "Morvane" and says it is a music instrument's playback
//   (media type Audio, category Playback, role Production). Asked to connect, it lets the
//   session manager join it to the default output; otherwise it waits to be linked.
// - It plays at the graph's rate, which it reads from the server's settings at Open, so
//   that the server converts nothing: the source renders at that rate, resampling as it
//   does for JACK. It asks for a quantum of quantumSeconds; the server runs the graph at
//   the smallest quantum its nodes ask for, within its own bounds.
// - The stream's data thread runs the source and nothing else; PipeWire makes it
//   real-time where the system allows (its own module, which asks RealtimeKit).
// - When the server goes away PipeWire says so on the stream's own thread, which only
//   records it; the owner polls ServerLoss whenever it likes.
// - Destroying the output closes the stream; the source must outlive it.
class PipeWireOutput {
public:
    static constexpr const char* kNodeName = "Morvane";

    static Result<std::unique_ptr<PipeWireOutput>> Open(SampleSource& source, bool connect,
                                                        double quantumSeconds);
    ~PipeWireOutput();
    PipeWireOutput(const PipeWireOutput&) = delete;
    PipeWireOutput& operator=(const PipeWireOutput&) = delete;

    int SampleRate() const { return rate_; }
    // Asks the server for another quantum while the stream plays; false when it refused.
    bool AskQuantum(double quantumSeconds);
    // The frames of the last cycle, or the quantum asked for before the first.
    int Quantum() const;
    // Frames between a sample handed over and its sound: the cycle being filled, and
    // the server's delay to the device.
    int LatencyFrames() const;
    std::optional<Error> ServerLoss() const;
    // Cycles the stream missed, or had no buffer for.
    long Underruns() const { return underruns_.load(); }
    // The kernel's id of the thread that runs the source; 0 before its first cycle.
    pid_t DataThread() const { return dataThread_.load(std::memory_order_acquire); }

private:
    struct Listeners;

    PipeWireOutput(SampleSource& source, int askedQuantum);
    Status Connect(bool connect, double quantumSeconds);
    int ReadGraphRate();
    void Lose(const char* reason) noexcept;

    static void Process(void* self);
    static void StateChanged(void* self, int old, int state, const char* error);
    static void IoChanged(void* self, std::uint32_t id, void* area, std::uint32_t size);
    static void CoreError(void* self, std::uint32_t id, int seq, int res, const char* message);

    SampleSource& source_;
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_stream* stream_ = nullptr;
    std::unique_ptr<Listeners> listeners_;
    int rate_ = 0;
    int askedQuantum_;

    // The data thread's own.
    spa_io_position* position_ = nullptr;
    std::uint64_t nextPosition_ = 0;
    std::uint32_t clockId_ = 0;
    bool positionKnown_ = false;

    std::atomic<int> quantum_{0};
    std::atomic<pid_t> dataThread_{0};
    // Set by the loop's thread when the stream (re)starts: the next cycle's position
    // starts afresh instead of counting the pause as missed cycles.
    std::atomic<bool> resync_{true};
    // Written once before lost_ is set, read only after.
    std::array<char, 256> lossReason_{};
    std::atomic<bool> lost_{false};
    std::atomic<long> underruns_{0};
};

} // namespace morvane
