#include "audio/realtime_output.h"

#include <pa_linux_alsa.h>
#include <portaudio.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>
#include <utility>

#include "audio/jack_output.h"
#include "audio/pipewire_output.h"
#include "audio/portaudio_library.h"
#include "audio/realtime_scheduling.h"

namespace morvane {

namespace {

// The sound server's own buffering beyond what the device reports, at the engine's rate.
constexpr int kHeardMarginFrames = kSampleRate / 20;

// PortAudio's ALSA layer makes a buffer of the suggested latency and one period, cut into
// as many periods as it was told beforehand (four unless told), each rounded up to whole
// callbacks: this many make every period one callback long. Small periods keep the sound
// server's buffer full, so more of it covers a server held up on a busy machine; where
// four periods already are one callback each (the classic mode's), nothing changes.
int PeriodsOfOneCallback(double bufferSeconds, unsigned long framesPerBuffer) {
    const long double frames = static_cast<long double>(bufferSeconds) * kSampleRate +
                               static_cast<long double>(framesPerBuffer);
    return static_cast<int>(std::ceil(frames / static_cast<long double>(framesPerBuffer)));
}

// A PortAudio output. Its buffer is fixed when the stream opens, so a buffer that grows is a
// second stream opened beside the first: the player goes over to it between two callbacks,
// and the first closes once what it holds has been heard. Closing first and opening again
// would start the library afresh (a tenth of a second of silence) and drop what the old
// stream still held.
class PortAudioStream final : public RealtimeOutput {
public:
    PortAudioStream(double bufferSeconds, unsigned long framesPerBuffer)
        : bufferSeconds_(bufferSeconds > 0 ? bufferSeconds : kLowSuggestedLatencySeconds),
          framesPerBuffer_(framesPerBuffer > 0 ? framesPerBuffer : kLowFramesPerBuffer) {}

    ~PortAudioStream() override {
        retiring_.reset();
        current_.reset();
        if (initialised_)
            Pa_Terminate();
    }

    Status Start() {
        if (Status initialised = InitialiseQuietly(); !initialised)
            return initialised;
        initialised_ = true;
        Result<std::unique_ptr<Feed>> opened = OpenFeed(bufferSeconds_, true);
        if (!opened)
            return opened.error();
        current_ = std::move(*opened);
        Tend();
        return {};
    }

    AudioApi Api() const override { return AudioApi::PortAudio; }
    int SampleRate() const override { return kSampleRate; }
    std::optional<Error> Loss() const override {
        if (!current_->died.load(std::memory_order_acquire))
            return std::nullopt;
        return Error{"the sound server stopped the stream"};
    }
    long Underruns() const override { return underruns_.load(); }
    double BufferSeconds() const override { return bufferSeconds_; }

    OutputHealth Health() const override {
        OutputHealth health{.output = "PortAudio",
                            .device = deviceName_,
                            .rate = kSampleRate,
                            .bufferFrames = static_cast<int>(framesPerBuffer_),
                            .latencyFrames = current_->latencyFrames,
                            .realtime = std::nullopt,
                            .underruns = Underruns()};
        if (const pid_t thread = current_->thread.load(std::memory_order_acquire))
            health.realtime = RunsRealtime(thread);
        return health;
    }

    // The new stream plays silence until its first callback has named its thread and that
    // thread runs at the priority the old one had; then the player leaves the old stream,
    // and goes over to the new one once the old one's sound will have ended before the new
    // one's can start. Where the device takes one stream only, the owner opens a new output
    // instead.
    bool GrowInPlace(double bufferSeconds) override {
        if (retiring_)
            return false;
        Result<std::unique_ptr<Feed>> opened = OpenFeed(bufferSeconds, false);
        if (!opened)
            return false;
        std::unique_ptr<Feed> next = std::move(*opened);
        RaiseOnce(*next);
        current_->liveFrom.store(kNever);
        while (current_->pulling.load())
            std::this_thread::yield();
        // What the old stream holds: its buffer, or more where the server says so. The new
        // stream, still filling, will hold its buffer when the player's first samples come:
        // they must sound after the old stream's last, or the two are mixed (seen on a busy
        // machine, where a stream held up by the server still played 6 ms into the next).
        const auto held =
            std::max(current_->latency, std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(current_->delay.load())));
        const auto now = Clock::now();
        const auto wait = std::max(held - next->latency, Clock::duration::zero()) + kHandoverMargin;
        next->liveFrom.store((now + wait).time_since_epoch().count());
        retireAt_ = now + held + kRetireMargin;
        retiring_ = std::exchange(current_, std::move(next));
        bufferSeconds_ = bufferSeconds;
        return true;
    }

    void Tend() override {
        if (retiring_ && Clock::now() >= retireAt_)
            retiring_.reset();
        RaiseOnce(*current_);
    }

protected:
    int LatencyFrames() const override { return current_->latencyFrames; }

private:
    // The sound server's own buffering beyond the latency PortAudio reports: what the old
    // stream still holds is heard within this once its buffer has drained.
    static constexpr std::chrono::milliseconds kRetireMargin{200};
    // Between the old stream's last sound and the new one's first, for the error in the
    // server's latency figures.
    static constexpr std::chrono::milliseconds kHandoverMargin{5};
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::rep kNever = std::numeric_limits<Clock::rep>::max();
    static constexpr int kLateLatencies = 2;
    // A stream's first callbacks fill its buffer while the server starts it, at their own
    // pace, before anything has been heard.
    static constexpr std::chrono::milliseconds kStarting{500};

    // One PortAudio stream and what its callback keeps.
    struct Feed {
        explicit Feed(PortAudioStream& owner) : owner(owner) {}
        ~Feed() {
            if (!stream)
                return;
            stopping.store(true);
            Pa_AbortStream(stream);
            Pa_CloseStream(stream);
        }

        PortAudioStream& owner;
        PaStream* stream = nullptr;
        // What the stream's buffer holds when full: set before it starts.
        Clock::duration latency{};
        int latencyFrames = 0;
        bool priorityAsked = false;
        // From when on the callback renders the player, on the steady clock; only one feed
        // of an output does at a time.
        std::atomic<Clock::rep> liveFrom{kNever};
        // Seconds from the latest callback to the sound of its first sample, as the server
        // tells it.
        std::atomic<double> delay{0};
        // Whether the callback is inside the player now: the player goes over to another
        // feed only once this one has let it go.
        std::atomic<bool> pulling{false};
        std::atomic<pid_t> thread{0};
        std::atomic<bool> stopping{false};
        std::atomic<bool> died{false};
        // The callback's thread alone uses these. Whether the previous callback was told of
        // an underflow: the callbacks that share one host buffer are all told of the same one.
        bool underflowing = false;
        Clock::time_point firstCallback{};
        Clock::time_point lastCallback{};
    };

    // Real-time scheduling for a feed's threads, once its first callback has named its own.
    static void RaiseOnce(Feed& feed) {
        const pid_t thread = feed.thread.load(std::memory_order_acquire);
        if (feed.priorityAsked || thread == 0)
            return;
        feed.priorityAsked = true;
        RaisePortAudioThreads(thread);
    }

    Result<std::unique_ptr<Feed>> OpenFeed(double bufferSeconds, bool live) {
        PaStreamParameters output{};
        output.device = Pa_GetDefaultOutputDevice();
        if (output.device == paNoDevice)
            return PortAudioError(paDeviceUnavailable);
        if (const PaDeviceInfo* info = Pa_GetDeviceInfo(output.device); info && info->name)
            deviceName_ = info->name;
        output.channelCount = 1;
        output.sampleFormat = paInt16;
        output.suggestedLatency = bufferSeconds;
        auto feed = std::make_unique<Feed>(*this);
        feed->liveFrom.store(live ? Clock::rep{0} : kNever);
        // Other host APIs (JACK's) take no such setting and ignore it.
        PaAlsa_SetNumPeriods(PeriodsOfOneCallback(bufferSeconds, framesPerBuffer_));
        PaError failure = Pa_OpenStream(&feed->stream, nullptr, &output, kSampleRate,
                                        framesPerBuffer_, paNoFlag, Callback, feed.get());
        if (failure == paNoError)
            failure = Pa_SetStreamFinishedCallback(feed->stream, Finished);
        if (failure == paNoError) {
            if (const PaStreamInfo* info = Pa_GetStreamInfo(feed->stream)) {
                feed->latency = std::chrono::duration_cast<Clock::duration>(
                    std::chrono::duration<double>(info->outputLatency));
                feed->latencyFrames = static_cast<int>(info->outputLatency * kSampleRate);
            }
            failure = Pa_StartStream(feed->stream);
        }
        if (failure != paNoError) {
            if (feed->stream)
                Pa_CloseStream(feed->stream);
            feed->stream = nullptr;
            return PortAudioError(failure);
        }
        constexpr auto kFirstCallbackWithin = std::chrono::milliseconds(500);
        const auto giveUpAt = Clock::now() + kFirstCallbackWithin;
        while (feed->thread.load(std::memory_order_acquire) == 0 && Clock::now() < giveUpAt)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return feed;
    }

    // An underrun is counted once, on the feed that plays the player (one still playing
    // silence has nothing to lose): when PortAudio tells of an underflow, or when a callback
    // comes more than twice the buffer's latency after the one before. ALSA's PulseAudio
    // plugin tells of a server's underflow only when no more data was on its way, so a sound
    // server held up on a busy machine starves the stream without the flag: on a loaded
    // two-core machine, late callbacks matched silences in the sound five times as often as
    // the flag did. The server holds a little more than the latency reported (callbacks up
    // to 1.1 times it late were heard as nothing), hence twice. The callbacks cut from one
    // host buffer all carry the flag of the same underflow.
    static int Callback(const void*, void* output, unsigned long frames,
                        const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags status,
                        void* self) {
        auto& feed = *static_cast<Feed*>(self);
        if (feed.thread.load(std::memory_order_relaxed) == 0)
            feed.thread.store(CurrentThreadId(), std::memory_order_release);
        const auto now = Clock::now();
        if (feed.firstCallback == Clock::time_point{})
            feed.firstCallback = now;
        const bool late = now - feed.firstCallback > kStarting &&
                          now - feed.lastCallback > kLateLatencies * feed.latency;
        feed.lastCallback = now;
        const bool underflow = (status & paOutputUnderflow) != 0;
        if (time && time->outputBufferDacTime > time->currentTime)
            feed.delay.store(time->outputBufferDacTime - time->currentTime,
                             std::memory_order_relaxed);
        feed.pulling.store(true);
        if (now.time_since_epoch().count() >= feed.liveFrom.load()) {
            if (late || (underflow && !feed.underflowing))
                feed.owner.underruns_.fetch_add(1, std::memory_order_relaxed);
            feed.owner.Pull(static_cast<std::int16_t*>(output), static_cast<int>(frames));
        } else {
            std::fill_n(static_cast<std::int16_t*>(output), frames, std::int16_t{0});
        }
        feed.pulling.store(false);
        feed.underflowing = underflow;
        return paContinue;
    }
    // Only a stream that dies on its own ends without being stopped.
    static void Finished(void* self) {
        auto& feed = *static_cast<Feed*>(self);
        if (!feed.stopping.load())
            feed.died.store(true, std::memory_order_release);
    }

    double bufferSeconds_;
    unsigned long framesPerBuffer_;
    std::string deviceName_;
    bool initialised_ = false;
    std::unique_ptr<Feed> current_;
    // The feed the player has left, closed at retireAt_.
    std::unique_ptr<Feed> retiring_;
    Clock::time_point retireAt_{};
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

Result<std::unique_ptr<RealtimeOutput>> OpenPortAudio(const RealtimeOutputOptions& options) {
    auto stream = std::make_unique<PortAudioStream>(options.bufferSeconds, options.framesPerBuffer);
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
        return OpenPortAudio(options);
    case AudioApi::Jack:
        return OpenJack(options);
    case AudioApi::PipeWire:
        return OpenPipeWire(options.connect, options.bufferSeconds);
    case AudioApi::Auto:
        if (auto jack = OpenJack(options))
            return jack;
        if (auto pipeWire = OpenPipeWire(options.connect, options.bufferSeconds))
            return pipeWire;
        return OpenPortAudio(options);
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

// A device may be written in any translation unit, a test's included.
template void RealtimeOutput::Pull(std::int16_t* out, int frames) noexcept;
template void RealtimeOutput::Pull(float* out, int frames) noexcept;

} // namespace morvane
