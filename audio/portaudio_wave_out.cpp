#include "audio/portaudio_wave_out.h"

#include "audio/portaudio_library.h"
#include "audio/realtime_scheduling.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>

#include "engine/synth_state.h"

namespace morvane {

PortAudioWaveOut::PortAudioWaveOut(double suggestedLatencySeconds)
    : suggestedLatency_(suggestedLatencySeconds),
      wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

PortAudioWaveOut::~PortAudioWaveOut() {
    Close();
    reopenTimer_.reset();
    notifier_.reset();
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

Status PortAudioWaveOut::Open(CompletionListener& listener) {
    if (listener_)
        return Error{"the device is open already"};
    if (wakeFd_ < 0)
        return Error{"no eventfd to wake the owner with"};
    if (Status started = StartStream(); !started)
        return started;
    listener_ = &listener;
    lost_ = false;
    backPending_ = false;
    return {};
}

// The stream runs from open to close, playing silence while nothing is queued, so
// that queueing never has to wait for a device to start.
Status PortAudioWaveOut::StartStream() {
    if (Status initialised = InitialiseQuietly(); !initialised)
        return initialised;
    PaStreamParameters output{};
    output.device = Pa_GetDefaultOutputDevice();
    output.channelCount = 1;
    output.sampleFormat = paInt16;
    output.suggestedLatency = suggestedLatency_;
    PaError failure = paDeviceUnavailable;
    if (const PaDeviceInfo* info = Pa_GetDeviceInfo(output.device); info && info->name)
        deviceName_ = info->name;
    if (output.device != paNoDevice)
        failure = Pa_OpenStream(&stream_, nullptr, &output, kSampleRate, kBlockSamples, paNoFlag,
                                Callback, this);
    if (failure == paNoError) {
        failure = Pa_SetStreamFinishedCallback(stream_, StreamFinished);
        lastSampleHeardAt_ = 0;
        if (failure == paNoError)
            failure = Pa_StartStream(stream_);
        if (failure != paNoError)
            Pa_CloseStream(stream_);
    }
    if (failure == paNoError) {
        if (const PaStreamInfo* info = Pa_GetStreamInfo(stream_))
            latencyFrames_ = static_cast<int>(info->outputLatency * kSampleRate);
        return {};
    }
    Error reason = PortAudioError(failure);
    stream_ = nullptr;
    Pa_Terminate();
    return reason;
}

// Teardown has no second way: what these calls return changes nothing.
void PortAudioWaveOut::EndStream() {
    StopCallbacks();
    Pa_CloseStream(stream_);
    stream_ = nullptr;
    Pa_Terminate();
}

void PortAudioWaveOut::StopCallbacks() {
    // Our own stop also ends in the finished callback, which must not take it for a
    // dying stream.
    stopping_ = true;
    Pa_AbortStream(stream_);
    stopping_ = false;
}

Status PortAudioWaveOut::Prepare(WaveHeader& header) {
    if (!listener_)
        return Error{"the device is not open"};
    header.Prepared = true;
    return {};
}

Status PortAudioWaveOut::Write(WaveHeader& header) {
    if (!listener_)
        return Error{"the device is not open"};
    if (!stream_)
        return Error{"the sound device is gone"};
    if (!header.Prepared || header.Queued)
        return Error{"the buffer is not prepared, or queued already"};
    // Bounding what is out by the capacity keeps the queue to the callback from ever
    // being full as well.
    if (writtenCount_ - deliveredCount_ == kRingCapacity || !queued_.Push(&header))
        return Error{"too many buffers queued"};
    header.Queued = true;
    outstanding_[writtenCount_ % kRingCapacity] = &header;
    ++writtenCount_;
    return {};
}

Status PortAudioWaveOut::Unprepare(WaveHeader& header) {
    if (!listener_)
        return Error{"the device is not open"};
    if (header.Queued)
        return Error{"the buffer is still queued"};
    header.Prepared = false;
    return {};
}

void PortAudioWaveOut::Reset() {
    // With every buffer back the stop would only cut off the samples still in the
    // device, which the player waits to hear out.
    if (!stream_ || writtenCount_ == returnedCount_.load(std::memory_order_acquire))
        return;
    StopCallbacks();
    ReturnQueuedBuffers();
    // A stream that will not start again is as good as dead.
    if (Pa_StartStream(stream_) != paNoError)
        died_ = true;
}

void PortAudioWaveOut::Close() {
    if (!listener_)
        return;
    if (reopenTimer_)
        reopenTimer_->stop();
    if (stream_)
        EndStream();
    ReturnQueuedBuffers();
    // Completions still undelivered are dropped with the device.
    for (; deliveredCount_ < writtenCount_; ++deliveredCount_)
        outstanding_[deliveredCount_ % kRingCapacity]->Queued = false;
    listener_ = nullptr;
    lost_ = false;
    backPending_ = false;
    if (notifier_)
        notifier_->setEnabled(false);
}

void PortAudioWaveOut::ReturnQueuedBuffers() {
    std::size_t returned = playing_ ? 1 : 0;
    playing_ = nullptr;
    playedSamples_ = 0;
    playedAny_ = false;
    silenceSincePlaying_ = false;
    while (queued_.Pop())
        ++returned;
    returnedCount_.fetch_add(returned, std::memory_order_release);
    Wake();
}

void PortAudioWaveOut::Wake() {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

int PortAudioWaveOut::Callback(const void*, void* output, unsigned long frames,
                               const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags status,
                               void* self) {
    auto* device = static_cast<PortAudioWaveOut*>(self);
    // One system call, in the first callback only.
    if (device->callbackThread_.load(std::memory_order_relaxed) == 0)
        device->callbackThread_.store(CurrentThreadId(), std::memory_order_release);
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
            playing_ = nullptr;
            returnedCount_.fetch_add(1, std::memory_order_release);
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

// The callbacks have ended; the stop only joins the thread that ran them. A server
// that was only restarted takes the stream again at once and the ring goes on;
// otherwise the owner is told, once, before the buffers come home.
void PortAudioWaveOut::LoseStream() {
    EndStream();
    ReturnQueuedBuffers();
    Status restarted = StartStream();
    if (restarted)
        return;
    lost_ = true;
    if (reopenTimer_)
        reopenTimer_->start();
    listener_->WaveOutLost(restarted.error());
}

void PortAudioWaveOut::TryReopen() {
    if (!lost_ || !StartStream())
        return;
    lost_ = false;
    reopenTimer_->stop();
    backPending_ = true;
    Wake();
}

void PortAudioWaveOut::DeliverCompletions() {
    std::uint64_t count;
    [[maybe_unused]] ssize_t n = ::read(wakeFd_, &count, sizeof count);
    if (!priorityAsked_)
        if (const pid_t thread = callbackThread_.load(std::memory_order_acquire)) {
            priorityAsked_ = true;
            RaisePortAudioThreads(thread);
        }
    if (listener_ && stream_ && died_.exchange(false))
        LoseStream();
    // A completion may close the device.
    while (listener_ && deliveredCount_ < returnedCount_.load(std::memory_order_acquire)) {
        WaveHeader* header = outstanding_[deliveredCount_++ % kRingCapacity];
        header->Queued = false;
        listener_->WaveOutDone(*header);
    }
    if (listener_ && backPending_ && deliveredCount_ == writtenCount_) {
        backPending_ = false;
        listener_->WaveOutBack();
    }
}

void PortAudioWaveOut::DeliverThroughEventLoop() {
    notifier_ = std::make_unique<QSocketNotifier>(wakeFd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated,
                     [this] { DeliverCompletions(); });
    reopenTimer_ = std::make_unique<QTimer>();
    reopenTimer_->setInterval(kReopenInterval);
    QObject::connect(reopenTimer_.get(), &QTimer::timeout, [this] { TryReopen(); });
}

void PortAudioWaveOut::AwaitCompletions(std::chrono::milliseconds timeout) {
    pollfd wake{wakeFd_, POLLIN, 0};
    ::poll(&wake, 1, static_cast<int>(timeout.count()));
    DeliverCompletions();
}

std::optional<OutputHealth> PortAudioWaveOut::Health() const {
    OutputHealth health{.output = "PortAudio",
                        .device = deviceName_,
                        .rate = kSampleRate,
                        .bufferFrames = kBlockSamples,
                        .latencyFrames = latencyFrames_,
                        .realtime = std::nullopt,
                        .underruns = DeviceUnderruns()};
    if (const pid_t thread = callbackThread_.load(std::memory_order_acquire))
        health.realtime = RunsRealtime(thread);
    return health;
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

} // namespace morvane
