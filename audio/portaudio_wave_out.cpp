#include "audio/portaudio_wave_out.h"

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "engine/synth_state.h"

namespace morvane {

namespace {

// ALSA reports every device it probes and fails to open; none of that concerns the user.
void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

// The JACK client library prints its failed probe for a server straight to stderr, so
// stderr points at /dev/null while PortAudio starts.
bool InitialiseQuietly() {
    snd_lib_error_set_handler(IgnoreAlsaError);
    std::fflush(stderr);
    int savedStderr = ::dup(STDERR_FILENO);
    int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (savedStderr >= 0 && devNull >= 0)
        ::dup2(devNull, STDERR_FILENO);
    bool initialised = Pa_Initialize() == paNoError;
    if (savedStderr >= 0 && devNull >= 0)
        ::dup2(savedStderr, STDERR_FILENO);
    if (devNull >= 0)
        ::close(devNull);
    if (savedStderr >= 0)
        ::close(savedStderr);
    return initialised;
}

} // namespace

PortAudioWaveOut::PortAudioWaveOut(double suggestedLatencySeconds)
    : suggestedLatency_(suggestedLatencySeconds),
      wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

PortAudioWaveOut::~PortAudioWaveOut() {
    Close();
    notifier_.reset();
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

bool PortAudioWaveOut::Open(CompletionListener& listener) {
    if (stream_ || wakeFd_ < 0 || !InitialiseQuietly())
        return false;
    PaStreamParameters output{};
    output.device = Pa_GetDefaultOutputDevice();
    output.channelCount = 1;
    output.sampleFormat = paInt16;
    output.suggestedLatency = suggestedLatency_;
    if (output.device == paNoDevice ||
        Pa_OpenStream(&stream_, nullptr, &output, kSampleRate, kBlockSamples, paNoFlag, Callback,
                      this) != paNoError) {
        stream_ = nullptr;
        Pa_Terminate();
        return false;
    }
    Pa_SetStreamFinishedCallback(stream_, StreamFinished);
    listener_ = &listener;
    dead_ = false;
    if (!StartStream()) {
        Close();
        return false;
    }
    return true;
}

// The stream runs from open to close, playing silence while nothing is queued, so
// that queueing never has to wait for a device to start.
bool PortAudioWaveOut::StartStream() {
    return Pa_StartStream(stream_) == paNoError;
}

void PortAudioWaveOut::StopStream() {
    // Our own stop also ends in the finished callback, which must not take it for a
    // dying stream.
    stopping_ = true;
    Pa_AbortStream(stream_);
    stopping_ = false;
}

bool PortAudioWaveOut::Prepare(WaveHeader& header) {
    if (!stream_)
        return false;
    header.Prepared = true;
    return true;
}

bool PortAudioWaveOut::Write(WaveHeader& header) {
    if (!stream_ || dead_ || !header.Prepared || header.Queued)
        return false;
    header.Queued = true;
    if (!queued_.Push(&header)) {
        header.Queued = false;
        return false;
    }
    ++writtenCount_;
    return true;
}

bool PortAudioWaveOut::Unprepare(WaveHeader& header) {
    if (!stream_ || header.Queued)
        return false;
    header.Prepared = false;
    return true;
}

void PortAudioWaveOut::Reset() {
    // With every buffer back the stop would only cut off the samples still in the
    // device, which the player waits to hear out.
    if (!stream_ || writtenCount_ == returnedCount_.load(std::memory_order_acquire))
        return;
    StopStream();
    ReturnQueuedBuffers();
    if (!dead_ && !StartStream())
        dead_ = true;
}

void PortAudioWaveOut::Close() {
    if (!stream_)
        return;
    StopStream();
    Pa_CloseStream(stream_);
    stream_ = nullptr;
    Pa_Terminate();
    ReturnQueuedBuffers();
    // Completions still undelivered are dropped with the device.
    while (auto header = returned_.Pop())
        (*header)->Queued = false;
    listener_ = nullptr;
    if (notifier_)
        notifier_->setEnabled(false);
}

void PortAudioWaveOut::ReturnQueuedBuffers() {
    if (playing_)
        Return(playing_);
    playing_ = nullptr;
    playedSamples_ = 0;
    playedAny_ = false;
    silenceSincePlaying_ = false;
    while (auto header = queued_.Pop())
        Return(*header);
    Wake();
}

void PortAudioWaveOut::Return(WaveHeader* header) {
    returned_.Push(header);
    returnedCount_.fetch_add(1, std::memory_order_release);
}

void PortAudioWaveOut::Wake() {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

int PortAudioWaveOut::Callback(const void*, void* output, unsigned long frames,
                               const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags status,
                               void* self) {
    auto* device = static_cast<PortAudioWaveOut*>(self);
    if (status & paOutputUnderflow)
        device->deviceUnderruns_.fetch_add(1, std::memory_order_relaxed);
    device->Play(static_cast<std::int16_t*>(output), frames, time->outputBufferDacTime);
    return paContinue;
}

void PortAudioWaveOut::Play(std::int16_t* out, unsigned long frames, double dacTime) {
    const unsigned long callbackFrames = frames;
    while (frames > 0) {
        if (!playing_) {
            auto next = queued_.Pop();
            if (!next)
                break;
            playing_ = *next;
            playedSamples_ = 0;
            if (silenceSincePlaying_)
                queueUnderruns_.fetch_add(1, std::memory_order_relaxed);
            silenceSincePlaying_ = false;
        }
        int samples = playing_->BufferLength / static_cast<int>(sizeof(std::int16_t));
        auto count = std::min<unsigned long>(frames, samples - playedSamples_);
        std::copy_n(playing_->Data + playedSamples_, count, out);
        out += count;
        frames -= count;
        playedSamples_ += static_cast<int>(count);
        if (playedSamples_ == samples) {
            playedAny_ = true;
            lastSampleHeardAt_.store(dacTime + double(callbackFrames - frames) / kSampleRate,
                                     std::memory_order_relaxed);
            Return(playing_);
            playing_ = nullptr;
            Wake();
        }
    }
    if (frames > 0) {
        std::fill_n(out, frames, std::int16_t{0});
        // Silence before the first buffer, or after the last, is no gap: only silence
        // between two buffers is.
        silenceSincePlaying_ = playedAny_;
    }
}

void PortAudioWaveOut::StreamFinished(void* self) {
    auto* device = static_cast<PortAudioWaveOut*>(self);
    if (!device->stopping_) {
        device->died_ = true;
        device->Wake();
    }
}

void PortAudioWaveOut::DeliverCompletions() {
    std::uint64_t count;
    [[maybe_unused]] ssize_t n = ::read(wakeFd_, &count, sizeof count);
    if (stream_ && died_.exchange(false)) {
        // The callbacks have ended; the stop only joins the thread that ran them.
        StopStream();
        dead_ = true;
        ReturnQueuedBuffers();
    }
    // A completion may close the device, or run further deliveries nested in a box.
    while (listener_) {
        auto header = returned_.Pop();
        if (!header)
            break;
        (*header)->Queued = false;
        listener_->WaveOutDone(**header);
    }
}

void PortAudioWaveOut::DeliverThroughEventLoop() {
    notifier_ = std::make_unique<QSocketNotifier>(wakeFd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated,
                     [this] { DeliverCompletions(); });
}

void PortAudioWaveOut::AwaitCompletions(std::chrono::milliseconds timeout) {
    pollfd wake{wakeFd_, POLLIN, 0};
    ::poll(&wake, 1, static_cast<int>(timeout.count()));
    DeliverCompletions();
}

void PortAudioWaveOut::WaitUntilHeard() {
    // A block's worth of margin over the device's own estimate; and a stream whose
    // clock stands still must not keep the caller for ever.
    constexpr double kMarginSeconds = 0.02;
    constexpr double kLongestWaitSeconds = 1.0;
    if (!stream_)
        return;
    double until = lastSampleHeardAt_.load(std::memory_order_relaxed) + kMarginSeconds;
    double giveUpAt = Pa_GetStreamTime(stream_) + kLongestWaitSeconds;
    for (double now = Pa_GetStreamTime(stream_); now < until && now < giveUpAt;
         now = Pa_GetStreamTime(stream_))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

double PortAudioWaveOut::OutputLatency() const {
    const PaStreamInfo* info = stream_ ? Pa_GetStreamInfo(stream_) : nullptr;
    return info ? info->outputLatency : 0.0;
}

} // namespace morvane
