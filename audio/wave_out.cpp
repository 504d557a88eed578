#include "audio/wave_out.h"

namespace morvane {

std::string WithReason(const char* failure, const Error& reason) {
    if (reason.message.empty())
        return failure;
    return std::string(failure) + ": " + reason.message;
}

WaveOut::WaveOut(WaveOutDevice& device, BlockSource& source, ErrorReporter& errors,
                 WaveOutOwner& owner)
    : device_(device), source_(source), errors_(errors), owner_(owner) {}

bool WaveOut::OpenOutput() {
    if (Status opened = device_.Open(*this); !opened) {
        errors_.ShowError(WithReason(kOpenError, opened.error()));
        return false;
    }
    open_ = true;
    return Prime();
}

bool WaveOut::Prime() {
    buffersInFlight_ = 0;
    for (int i = 0; i < kBufferCount; ++i) {
        dataAreas_[i].fill(0);
        headers_[i] = WaveHeader{dataAreas_[i].data(), kBlockBytes};
    }
    currentBuffer_ = 0;
    for (int i = 0; i < kPrimeCount; ++i) {
        if (Status queued = PrepareAndWrite(headers_[currentBuffer_]); !queued) {
            errors_.ShowError(queued.error().message);
            return false;
        }
        Advance();
    }
    return true;
}

void WaveOut::WaveOutDone(WaveHeader& finished) {
    if (closed_)
        return;
    --buffersInFlight_;
    if (Status unprepared = device_.Unprepare(finished); !unprepared) {
        errors_.ShowError(WithReason(kUnprepareError, unprepared.error()));
    }
    std::lock_guard lock(audioLock_);
    // The buffers a lost device sends back only come home; the ring starts again when
    // the device is back.
    if (lost_ && !closing_)
        return;
    if (!closing_ && buffersInFlight_ < kMaxInFlight && !QueueCurrentBuffer())
        return;
    if (buffersInFlight_ == 0) {
        closeAllowed_ = true;
        owner_.RequestClose();
    }
}

// The buffers that come back from now on must not be queued again, each failing with a
// message of its own.
void WaveOut::WaveOutLost(const Error& reason) {
    if (closed_)
        return;
    lost_ = true;
    errors_.ShowError(WithReason(kWriteError, reason));
}

void WaveOut::WaveOutBack() {
    lost_ = false;
    if (closed_ || closing_)
        return;
    Prime();
}

bool WaveOut::QueueCurrentBuffer() {
    std::int16_t* block = headers_[currentBuffer_].Data;
    if (!source_.RenderInto(block)) {
        closing_ = true;
        return true;
    }
    if (recorder_ && recorder_->Recording())
        recorder_->RecordBlock(block);
    if (Status queued = PrepareAndWrite(headers_[currentBuffer_]); !queued) {
        errors_.ShowError(queued.error().message);
        return false;
    }
    Advance();
    return true;
}

Status WaveOut::PrepareAndWrite(WaveHeader& header) {
    if (Status prepared = device_.Prepare(header); !prepared)
        return Error{WithReason(kPrepareError, prepared.error())};
    if (Status written = device_.Write(header); !written)
        return Error{WithReason(kWriteError, written.error())};
    return {};
}

void WaveOut::Advance() {
    currentBuffer_ = (currentBuffer_ + 1) % kBufferCount;
    ++buffersInFlight_;
}

bool WaveOut::CloseQuery() {
    std::lock_guard lock(audioLock_);
    if (open_)
        device_.Reset();
    closing_ = true;
    // With nothing queued no completion will come to finish the handshake: the device
    // never opened, failed re-queues have emptied it, or it went away.
    if (buffersInFlight_ == 0)
        closeAllowed_ = true;
    return closeAllowed_;
}

void WaveOut::Close() {
    if (closed_)
        return;
    closed_ = true;
    if (recorder_)
        recorder_->StopRecording();
    if (open_) {
        device_.Reset();
        device_.Close();
        open_ = false;
    }
}

Status WaveOut::ReadyToRecord() const {
    if (!open_ || lost_)
        return Error{kNoDeviceToRecord};
    return {};
}

} // namespace morvane
