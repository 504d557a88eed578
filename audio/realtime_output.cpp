#include "audio/realtime_output.h"

#include <portaudio.h>
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "audio/jack_output.h"
#include "audio/portaudio_library.h"
#include "audio/silenced_stderr.h"

namespace morvane {

namespace {

// The sound server's own buffering beyond what the device reports, at the engine's rate.
constexpr int kHeardMarginFrames = kSampleRate / 20;

class PortAudioStream final : public RealtimeOutput {
public:
    ~PortAudioStream() override {
        if (stream_) {
            stopping_.store(true);
            Pa_AbortStream(stream_);
            Pa_CloseStream(stream_);
        }
        if (initialised_)
            Pa_Terminate();
    }

    Status Start() {
        if (Status initialised = InitialiseQuietly(); !initialised)
            return initialised;
        initialised_ = true;
        PaStreamParameters output{};
        output.device = Pa_GetDefaultOutputDevice();
        if (output.device == paNoDevice)
            return PortAudioError(paDeviceUnavailable);
        output.channelCount = 1;
        output.sampleFormat = paInt16;
        output.suggestedLatency = kLowSuggestedLatencySeconds;
        PaError failure = Pa_OpenStream(&stream_, nullptr, &output, kSampleRate,
                                        kLowFramesPerBuffer, paNoFlag, Callback, this);
        if (failure == paNoError)
            failure = Pa_SetStreamFinishedCallback(stream_, Finished);
        if (failure == paNoError)
            failure = Pa_StartStream(stream_);
        if (failure != paNoError) {
            if (stream_)
                Pa_CloseStream(stream_);
            stream_ = nullptr;
            return PortAudioError(failure);
        }
        if (const PaStreamInfo* info = Pa_GetStreamInfo(stream_))
            latencyFrames_ = static_cast<int>(info->outputLatency * kSampleRate);
        RaiseCallbackPriority();
        return {};
    }

    int SampleRate() const override { return kSampleRate; }
    std::optional<Error> Loss() const override {
        if (!died_.load(std::memory_order_acquire))
            return std::nullopt;
        return Error{"the sound server stopped the stream"};
    }
    long Underruns() const override { return underruns_.load(); }

protected:
    int LatencyFrames() const override { return latencyFrames_; }

private:
    static int Callback(const void*, void* output, unsigned long frames,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags status, void* self) {
        auto& stream = *static_cast<PortAudioStream*>(self);
        if (!stream.callbackThreadKnown_.load(std::memory_order_relaxed)) {
            stream.callbackThread_ = pthread_self();
            stream.callbackThreadKnown_.store(true, std::memory_order_release);
        }
        if (status & paOutputUnderflow)
            stream.underruns_.fetch_add(1, std::memory_order_relaxed);
        stream.Pull(static_cast<std::int16_t*>(output), static_cast<int>(frames));
        return paContinue;
    }
    // Only a stream that dies on its own ends without being stopped.
    static void Finished(void* self) {
        auto& stream = *static_cast<PortAudioStream*>(self);
        if (!stream.stopping_.load())
            stream.died_.store(true, std::memory_order_release);
    }

    // PortAudio's ALSA callback thread runs at normal priority, where a busy machine
    // starves it long enough to underrun a 20 ms buffer. It asks for real-time
    // scheduling, as the sound server's own thread has, where the system grants it (a
    // real-time limit or the capability). Elsewhere the refusal is no fault: it plays on
    // at normal priority, and any underrun that follows is counted. The callback only
    // names its thread; the change is made from here, as it is a system call.
    void RaiseCallbackPriority() {
        constexpr auto kFirstCallbackWithin = std::chrono::milliseconds(500);
        const auto giveUpAt = std::chrono::steady_clock::now() + kFirstCallbackWithin;
        while (!callbackThreadKnown_.load(std::memory_order_acquire)) {
            if (std::chrono::steady_clock::now() >= giveUpAt)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        sched_param priority{};
        priority.sched_priority = kCallbackPriority;
        pthread_setschedparam(callbackThread_, SCHED_FIFO, &priority);
    }

    // Below the sound server's real-time threads, which must run first to take what the
    // callback gives them.
    static constexpr int kCallbackPriority = 4;

    bool initialised_ = false;
    PaStream* stream_ = nullptr;
    pthread_t callbackThread_{};
    std::atomic<bool> callbackThreadKnown_{false};
    int latencyFrames_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> died_{false};
    std::atomic<long> underruns_{0};
};

class JackStream final : public RealtimeOutput, private SampleSource {
public:
    // The JACK library prints its failed attempts on standard error, all of which the
    // returned reason sums up.
    Status Start(const RealtimeOutputOptions& options) {
        Result<std::unique_ptr<JackOutput>> opened = Error{};
        RunWithStderrSilenced([&] {
            opened =
                JackOutput::Open(*this, options.connect, options.jackClientName, options.midiInput);
        });
        takesMidi_ = options.midiInput;
        if (!opened)
            return opened.error();
        output_ = std::move(*opened);
        return {};
    }

    int SampleRate() const override { return output_->SampleRate(); }
    std::optional<Error> Loss() const override { return output_->ServerLoss(); }
    long Underruns() const override { return output_->Xruns(); }
    bool TakesMidi() const override { return takesMidi_; }

protected:
    // A period being played and one being filled.
    int LatencyFrames() const override { return 2 * output_->BufferSize(); }

private:
    void Render(float* out, int frames, PeriodMidi& midi) noexcept override {
        Pull(out, frames, midi);
    }

    std::unique_ptr<JackOutput> output_;
    bool takesMidi_ = false;
};

Result<std::unique_ptr<RealtimeOutput>> OpenPortAudio() {
    auto stream = std::make_unique<PortAudioStream>();
    if (Status started = stream->Start(); !started)
        return started.error();
    return std::unique_ptr<RealtimeOutput>(std::move(stream));
}

Result<std::unique_ptr<RealtimeOutput>> OpenJack(const RealtimeOutputOptions& options) {
    auto stream = std::make_unique<JackStream>();
    if (Status started = stream->Start(options); !started)
        return started.error();
    return std::unique_ptr<RealtimeOutput>(std::move(stream));
}

} // namespace

Result<std::unique_ptr<RealtimeOutput>> RealtimeOutput::Open(const RealtimeOutputOptions& options) {
    switch (options.api) {
    case AudioApi::PortAudio:
        return OpenPortAudio();
    case AudioApi::Jack:
        return OpenJack(options);
    case AudioApi::Auto:
        if (auto jack = OpenJack(options))
            return jack;
        return OpenPortAudio();
    }
    return Error{"no such audio interface"};
}

bool RealtimeOutput::Heard() const {
    if (Loss())
        return true;
    const RealtimePlayer* player = player_.load(std::memory_order_acquire);
    if (!player)
        return true;
    const std::uint64_t margin =
        static_cast<std::uint64_t>(kHeardMarginFrames) * SampleRate() / kSampleRate;
    return player->Ended() &&
           player->FramesOut() >= player->LastSoundFrame() + LatencyFrames() + margin;
}

void RealtimeOutput::Pull(float* out, int frames, PeriodMidi& midi) noexcept {
    if (RealtimePlayer* player = player_.load(std::memory_order_acquire))
        player->Render(out, frames, midi);
    else
        std::fill(out, out + frames, 0.0f);
}

template <typename Sample> void RealtimeOutput::Pull(Sample* out, int frames) noexcept {
    if (RealtimePlayer* player = player_.load(std::memory_order_acquire))
        player->Render(out, frames);
    else
        std::fill(out, out + frames, Sample{});
}

} // namespace morvane
