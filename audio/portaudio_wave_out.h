#pragma once

#include <portaudio.h>

#include <atomic>
#include <memory>

#include "audio/spsc_ring.h"
#include "audio/wave_out_device.h"

class QSocketNotifier;

namespace morvane {

// PortAudio's output latency on top of the ring's own 80 ms: the lowest that played
// without a gap on an idle machine and with both cores busy.
inline constexpr double kSuggestedLatencySeconds = 0.06;

// The default output device through PortAudio's callback API, 441 frames a callback.
// The callback takes the queued buffers in order and plays silence when none is
// queued. It never blocks, locks or allocates: buffers reach it and come back through
// two lock-free rings, and it wakes the owner's thread through an eventfd, whose write
// neither blocks nor allocates. Completions are delivered on the owner's thread, either
// by its Qt event loop (DeliverThroughEventLoop) or by AwaitCompletions.
class PortAudioWaveOut : public WaveOutDevice {
public:
    explicit PortAudioWaveOut(double suggestedLatencySeconds = kSuggestedLatencySeconds);
    ~PortAudioWaveOut() override;
    PortAudioWaveOut(const PortAudioWaveOut&) = delete;
    PortAudioWaveOut& operator=(const PortAudioWaveOut&) = delete;

    bool Open(CompletionListener& listener) override;
    bool Prepare(WaveHeader& header) override;
    bool Write(WaveHeader& header) override;
    bool Unprepare(WaveHeader& header) override;
    void Reset() override;
    void Close() override;
    void AwaitCompletions(std::chrono::milliseconds timeout) override;
    void WaitUntilHeard() override;

    // From now on the Qt event loop of the calling thread delivers the completions.
    void DeliverThroughEventLoop();
    void DeliverCompletions();

    // Gaps the player heard: the queue ran dry and a buffer came only after silence.
    long QueueUnderruns() const { return queueUnderruns_.load(); }
    // Callbacks that came too late for the device (PortAudio's output underflow).
    long DeviceUnderruns() const { return deviceUnderruns_.load(); }
    // The output latency PortAudio reports for the open stream, in seconds.
    double OutputLatency() const;

private:
    static constexpr std::size_t kRingCapacity = 64;

    static int Callback(const void* input, void* output, unsigned long frames,
                        const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags status,
                        void* self);
    static void StreamFinished(void* self);
    void Play(std::int16_t* out, unsigned long frames, double dacTime);
    void Return(WaveHeader* header);
    void Wake();
    bool StartStream();
    void StopStream();
    // Moves the buffer being played and every queued one to the returned ones, in order.
    // Only while no callback runs.
    void ReturnQueuedBuffers();

    double suggestedLatency_;
    int wakeFd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    PaStream* stream_ = nullptr;
    CompletionListener* listener_ = nullptr;
    // Set once the stream died under us; writes fail from then on.
    bool dead_ = false;
    std::size_t writtenCount_ = 0;

    SpscRing<WaveHeader*, kRingCapacity> queued_;   // owner -> callback
    SpscRing<WaveHeader*, kRingCapacity> returned_; // callback -> owner
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
