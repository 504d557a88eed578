#pragma once

#include <portaudio.h>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "audio/spsc_ring.h"
#include "audio/wave_out_device.h"

class QSocketNotifier;
class QTimer;

namespace morvane {

// PortAudio's output latency on top of the ring's own 80 ms: the lowest that played
// without a gap on an idle machine and with both cores busy.
inline constexpr double kSuggestedLatencySeconds = 0.06;
// How often a lost device is tried again. Each try starts PortAudio afresh, which takes
// about a tenth of a second of the owner's thread.
inline constexpr std::chrono::milliseconds kReopenInterval{1000};

// The default output device through PortAudio's callback API, 441 frames a callback.
// The callback takes the queued buffers in order and plays silence when none is
// queued. It never blocks, locks or allocates: buffers reach it through a lock-free
// ring, it counts those it has finished, and it wakes the owner's thread through an
// eventfd, whose write neither blocks nor allocates. Completions are delivered on the
// owner's thread, either by its Qt event loop (DeliverThroughEventLoop) or by
// AwaitCompletions.
//
// When the stream dies (the sound server went away) every queued buffer comes back and
// the device is opened again at once; when that fails the listener hears of the loss
// with PortAudio's reason. Under an event loop the device then tries again every
// kReopenInterval and tells the listener once it plays again.
class PortAudioWaveOut : public WaveOutDevice {
public:
    explicit PortAudioWaveOut(double suggestedLatencySeconds = kSuggestedLatencySeconds);
    ~PortAudioWaveOut() override;
    PortAudioWaveOut(const PortAudioWaveOut&) = delete;
    PortAudioWaveOut& operator=(const PortAudioWaveOut&) = delete;

    Status Open(CompletionListener& listener) override;
    Status Prepare(WaveHeader& header) override;
    Status Write(WaveHeader& header) override;
    Status Unprepare(WaveHeader& header) override;
    void Reset() override;
    void Close() override;
    void AwaitCompletions(std::chrono::milliseconds timeout) override;
    void WaitUntilHeard() override;

    // From now on the Qt event loop of the calling thread delivers the completions and
    // tries a lost device again.
    void DeliverThroughEventLoop();
    void DeliverCompletions();

    // Gaps the player heard: the queue ran dry and a buffer came only after silence.
    long QueueUnderruns() const { return queueUnderruns_.load(); }
    // Callbacks that came too late for the device (PortAudio's output underflow).
    long DeviceUnderruns() const { return deviceUnderruns_.load(); }
    // The device's figures for the About box: its buffer is one block, its latency the
    // device's own, ahead of which the ring keeps what it has in flight.
    std::optional<OutputHealth> Health() const override;

private:
    static constexpr std::size_t kRingCapacity = 64;

    static int Callback(const void* input, void* output, unsigned long frames,
                        const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags status,
                        void* self);
    static void StreamFinished(void* self);
    void Play(std::int16_t* out, unsigned long frames, double dacTime);
    void Wake();
    // Starts PortAudio and a running stream on the default output.
    Status StartStream();
    // Stops and closes the stream and lets PortAudio go, so that the next start sees the
    // sound server as it is then.
    void EndStream();
    void StopCallbacks();
    // Counts the buffer being played and every queued one as finished, in order. Only
    // while no callback runs.
    void ReturnQueuedBuffers();
    void LoseStream();
    void TryReopen();

    double suggestedLatency_;
    std::string deviceName_;
    int latencyFrames_ = 0;
    // Named by the first callback of a stream; its priority is raised once, on the
    // owner's thread.
    std::atomic<pid_t> callbackThread_{0};
    bool priorityAsked_ = false;
    int wakeFd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::unique_ptr<QTimer> reopenTimer_;
    PaStream* stream_ = nullptr;
    // Set from Open to Close, also while the device is lost.
    CompletionListener* listener_ = nullptr;
    // The stream died and could not be started again; writes fail meanwhile.
    bool lost_ = false;
    // Started again: the listener is told once the lost buffers have all been delivered.
    bool backPending_ = false;

    // The buffers written and not yet delivered, in queue order: the callback finishes
    // them in that order, so counting is all it has to do.
    std::array<WaveHeader*, kRingCapacity> outstanding_{};
    std::size_t writtenCount_ = 0;
    std::size_t deliveredCount_ = 0;

    SpscRing<WaveHeader*, kRingCapacity> queued_; // owner -> callback
    std::atomic<bool> stopping_{false};
    std::atomic<bool> died_{false};
    std::atomic<std::size_t> returnedCount_{0};
    std::atomic<long> queueUnderruns_{0};
    std::atomic<long> deviceUnderruns_{0};
    // Stream time at which the last sample of the last finished buffer leaves the device.
    std::atomic<double> lastSampleHeardAt_{0};

    // The callback's own state, touched by the owner only while no callback runs.
    WaveHeader* playing_ = nullptr;
    int playedSamples_ = 0;
    bool playedAny_ = false;
    bool silenceSincePlaying_ = false;
};

} // namespace morvane
