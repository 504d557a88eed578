#include "audio/realtime_output.h"

#include <portaudio.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "audio/jack_output.h"
#include "audio/pipewire_output.h"
#include "audio/portaudio_library.h"
#include "audio/realtime_scheduling.h"

namespace morvane {

namespace {

// The sound server's own buffering beyond what the device reports, at the engine's rate.
constexpr int kHeardMarginFrames = kSampleRate / 20;

class PortAudioStream final : public RealtimeOutput {
public:
    explicit PortAudioStream(double bufferSeconds)
        : bufferSeconds_(bufferSeconds > 0 ? bufferSeconds : kLowSuggestedLatencySeconds) {}

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
        if (const PaDeviceInfo* info = Pa_GetDeviceInfo(output.device); info && info->name)
            deviceName_ = info->name;
        output.channelCount = 1;
        output.sampleFormat = paInt16;
        output.suggestedLatency = bufferSeconds_;
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
        constexpr auto kFirstCallbackWithin = std::chrono::milliseconds(500);
        const auto giveUpAt = std::chrono::steady_clock::now() + kFirstCallbackWithin;
        while (callbackThread_.load(std::memory_order_acquire) == 0 &&
               std::chrono::steady_clock::now() < giveUpAt)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        Tend();
        return {};
    }

    AudioApi Api() const override { return AudioApi::PortAudio; }
    int SampleRate() const override { return kSampleRate; }
    std::optional<Error> Loss() const override {
        if (!died_.load(std::memory_order_acquire))
            return std::nullopt;
        return Error{"the sound server stopped the stream"};
    }
    long Underruns() const override { return underruns_.load(); }
    double BufferSeconds() const override { return bufferSeconds_; }

    OutputHealth Health() const override {
        OutputHealth health{.output = "PortAudio",
                            .device = deviceName_,
                            .rate = kSampleRate,
                            .bufferFrames = static_cast<int>(kLowFramesPerBuffer),
                            .latencyFrames = latencyFrames_,
                            .realtime = std::nullopt,
                            .underruns = Underruns()};
        if (const pid_t thread = callbackThread_.load(std::memory_order_acquire))
            health.realtime = RunsRealtime(thread);
        return health;
    }

    void Tend() override {
        const pid_t thread = callbackThread_.load(std::memory_order_acquire);
        if (priorityAsked_ || thread == 0)
            return;
        priorityAsked_ = true;
        RaisePortAudioThreads(thread);
    }

protected:
    int LatencyFrames() const override { return latencyFrames_; }

private:
    static int Callback(const void*, void* output, unsigned long frames,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags status, void* self) {
        auto& stream = *static_cast<PortAudioStream*>(self);
        if (stream.callbackThread_.load(std::memory_order_relaxed) == 0)
            stream.callbackThread_.store(CurrentThreadId(), std::memory_order_release);
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

    double bufferSeconds_;
    std::string deviceName_;
    bool initialised_ = false;
    bool priorityAsked_ = false;
    PaStream* stream_ = nullptr;
    std::atomic<pid_t> callbackThread_{0};
    int latencyFrames_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> died_{false};
    std::atomic<long> underruns_{0};
};

class JackStream final : public RealtimeOutput, private SampleSource {
public:
    Status Start(const RealtimeOutputOptions& options) {
        QuietenSoundLibraries();
        Result<std::unique_ptr<JackOutput>> opened =
            JackOutput::Open(*this, options.connect, options.jackClientName, options.midiInput);
        takesMidi_ = options.midiInput;
        if (!opened)
            return opened.error();
        output_ = std::move(*opened);
        return {};
    }

    AudioApi Api() const override { return AudioApi::Jack; }
    int SampleRate() const override { return output_->SampleRate(); }
    std::optional<Error> Loss() const override { return output_->ServerLoss(); }
    long Underruns() const override { return output_->Xruns(); }
    bool TakesMidi() const override { return takesMidi_; }
    OutputHealth Health() const override {
        OutputHealth health{.output = "JACK",
                            .device = output_->ClientName(),
                            .rate = output_->SampleRate(),
                            .bufferFrames = output_->BufferSize(),
                            .latencyFrames = LatencyFrames(),
                            .realtime = std::nullopt,
                            .underruns = Underruns()};
        if (const pid_t thread = processThread_.load(std::memory_order_acquire))
            health.realtime = RunsRealtime(thread);
        return health;
    }

protected:
    // A period being played and one being filled.
    int LatencyFrames() const override { return 2 * output_->BufferSize(); }

private:
    // JACK makes its process thread real-time when its server runs so. Naming the
    // thread costs one system call, in the first period only.
    void Render(float* out, int frames, PeriodMidi& midi) noexcept override {
        if (processThread_.load(std::memory_order_relaxed) == 0)
            processThread_.store(CurrentThreadId(), std::memory_order_release);
        Pull(out, frames, midi);
    }

    std::unique_ptr<JackOutput> output_;
    bool takesMidi_ = false;
    std::atomic<pid_t> processThread_{0};
};

class PipeWireStream final : public RealtimeOutput, private SampleSource {
public:
    Status Start(bool connect, double bufferSeconds) {
        bufferSeconds_ = bufferSeconds > 0 ? bufferSeconds : kPipeWireQuantumSeconds;
        Result<std::unique_ptr<PipeWireOutput>> opened =
            PipeWireOutput::Open(*this, connect, bufferSeconds_);
        if (!opened)
            return opened.error();
        output_ = std::move(*opened);
        return {};
    }

    AudioApi Api() const override { return AudioApi::PipeWire; }
    bool GrowInPlace(double bufferSeconds) override {
        if (!output_->AskQuantum(bufferSeconds))
            return false;
        bufferSeconds_ = bufferSeconds;
        return true;
    }
    int SampleRate() const override { return output_->SampleRate(); }
    std::optional<Error> Loss() const override { return output_->ServerLoss(); }
    long Underruns() const override { return output_->Underruns(); }
    double BufferSeconds() const override { return bufferSeconds_; }
    OutputHealth Health() const override {
        OutputHealth health{.output = "PipeWire",
                            .device = PipeWireOutput::kNodeName,
                            .rate = SampleRate(),
                            .bufferFrames = output_->Quantum(),
                            .latencyFrames = LatencyFrames(),
                            .realtime = std::nullopt,
                            .underruns = Underruns()};
        if (const pid_t thread = output_->DataThread())
            health.realtime = RunsRealtime(thread);
        return health;
    }

protected:
    int LatencyFrames() const override { return output_->LatencyFrames(); }

private:
    // A PipeWire stream carries no MIDI.
    void Render(float* out, int frames, PeriodMidi&) noexcept override { Pull(out, frames); }

    double bufferSeconds_ = 0;
    std::unique_ptr<PipeWireOutput> output_;
};

Result<std::unique_ptr<RealtimeOutput>> OpenPortAudio(double bufferSeconds) {
    auto stream = std::make_unique<PortAudioStream>(bufferSeconds);
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

Result<std::unique_ptr<RealtimeOutput>> OpenPipeWire(bool connect, double bufferSeconds) {
    auto stream = std::make_unique<PipeWireStream>();
    if (Status started = stream->Start(connect, bufferSeconds); !started)
        return started.error();
    return std::unique_ptr<RealtimeOutput>(std::move(stream));
}

Result<std::unique_ptr<RealtimeOutput>> RealtimeOutput::Open(const RealtimeOutputOptions& options) {
    switch (options.api) {
    case AudioApi::PortAudio:
        return OpenPortAudio(options.bufferSeconds);
    case AudioApi::Jack:
        return OpenJack(options);
    case AudioApi::PipeWire:
        return OpenPipeWire(options.connect, options.bufferSeconds);
    case AudioApi::Auto:
        if (auto jack = OpenJack(options))
            return jack;
        if (auto pipeWire = OpenPipeWire(options.connect, options.bufferSeconds))
            return pipeWire;
        return OpenPortAudio(options.bufferSeconds);
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
