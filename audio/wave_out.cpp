#include "audio/wave_out.h"

namespace morvane {

WaveOut::WaveOut(WaveOutDevice& device, BlockSource& source, ErrorReporter& errors,
                 WaveOutOwner& owner)
    : device_(device), source_(source), errors_(errors), owner_(owner) {}

bool WaveOut::OpenOutput() {
    if (!device_.Open(*this)) {
        errors_.ShowError(kOpenError);
        return false;
    }
    open_ = true;
    buffersInFlight_ = 0;
    for (int i = 0; i < kBufferCount; ++i) {
        dataAreas_[i].fill(0);
        headers_[i] = WaveHeader{dataAreas_[i].data(), kBlockBytes};
    }
    currentBuffer_ = 0;
    for (int i = 0; i < kPrimeCount; ++i) {
        if (!PrepareAndWrite(headers_[currentBuffer_]))
            return false;
        Advance();
    }
    return true;
}

void WaveOut::WaveOutDone(WaveHeader& finished) {
    if (closed_)
        return;
    --buffersInFlight_;
    if (!device_.Unprepare(finished)) {
        errors_.ShowError(kUnprepareError);
        // Completions handled inside the box may have granted the close meanwhile.
        if (closed_)
            return;
    }
    std::lock_guard lock(audioLock_);
    if (!closing_ && buffersInFlight_ < kMaxInFlight && !QueueCurrentBuffer())
        return;
    if (buffersInFlight_ == 0) {
        closeAllowed_ = true;
        owner_.RequestClose();
    }
}

bool WaveOut::QueueCurrentBuffer() {
    int buffer = currentBuffer_;
    std::int16_t* block = headers_[buffer].Data;
    if (!source_.RenderInto(block)) {
        closing_ = true;
        return true;
    }
    if (recorder_ && recorder_->Recording()) {
        recorder_->RecordBlock(block);
        // The recorder may have shown a box, and completions handled inside it may have
        // taken this buffer already or closed the device.
        if (closed_ || currentBuffer_ != buffer)
            return false;
    }
    if (!PrepareAndWrite(headers_[buffer]))
        return false;
    Advance();
    return true;
}

bool WaveOut::PrepareAndWrite(WaveHeader& header) {
    if (!device_.Prepare(header)) {
        errors_.ShowError(kPrepareError);
        return false;
    }
    if (!device_.Write(header)) {
        errors_.ShowError(kWriteError);
        return false;
    }
    return true;
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
    // never opened, or failed re-queues have emptied it.
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

} // namespace morvane
