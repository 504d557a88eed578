#include "tests/support/manual_wave_out.h"

#include <utility>

namespace morvane {

void ManualWaveOut::FailNext(Step step, int succeeding, std::string reason) {
    failAfter_[static_cast<int>(step)] = succeeding;
    failReason_[static_cast<int>(step)] = std::move(reason);
}

Status ManualWaveOut::Outcome(Step step) {
    int& remaining = failAfter_[static_cast<int>(step)];
    if (remaining < 0 || remaining-- != 0)
        return {};
    return Error{failReason_[static_cast<int>(step)]};
}

void ManualWaveOut::NoteCallWhileClosed() {
    if (!open_)
        ++callsWhileClosed_;
}

Status ManualWaveOut::Open(CompletionListener& listener) {
    if (Status opened = Outcome(Step::Open); !opened)
        return opened;
    listener_ = &listener;
    open_ = true;
    return {};
}

Status ManualWaveOut::Prepare(WaveHeader& header) {
    NoteCallWhileClosed();
    if (Status prepared = Outcome(Step::Prepare); !prepared)
        return prepared;
    header.Prepared = true;
    return {};
}

Status ManualWaveOut::Write(WaveHeader& header) {
    NoteCallWhileClosed();
    if (!header.Prepared || header.Queued)
        return Error{"the buffer is not prepared, or queued already"};
    if (lost_)
        return Error{"the device is gone"};
    if (Status written = Outcome(Step::Write); !written)
        return written;
    header.Queued = true;
    queued_.push_back(&header);
    auto samples = static_cast<std::size_t>(header.BufferLength) / sizeof(std::int16_t);
    written_.emplace_back(header.Data, header.Data + samples);
    return {};
}

Status ManualWaveOut::Unprepare(WaveHeader& header) {
    NoteCallWhileClosed();
    if (header.Queued)
        return Error{"the buffer is still queued"};
    if (Status unprepared = Outcome(Step::Unprepare); !unprepared)
        return unprepared;
    header.Prepared = false;
    return {};
}

void ManualWaveOut::Reset() {
    NoteCallWhileClosed();
    ++resets_;
    Finish(QueuedCount());
}

void ManualWaveOut::Close() {
    NoteCallWhileClosed();
    open_ = false;
}

void ManualWaveOut::Lose(std::string reason) {
    lost_ = true;
    Finish(QueuedCount());
    listener_->WaveOutLost(Error{std::move(reason)});
}

void ManualWaveOut::ComeBack() {
    lost_ = false;
    listener_->WaveOutBack();
}

void ManualWaveOut::Finish(int count) {
    for (int i = 0; i < count && !queued_.empty(); ++i) {
        queued_.front()->Queued = false;
        finished_.push_back(queued_.front());
        queued_.pop_front();
    }
}

void ManualWaveOut::Complete(int count) {
    for (int i = 0; i < count; ++i) {
        Finish(1);
        DeliverCompletions();
    }
}

void ManualWaveOut::DeliverCompletions() {
    while (!finished_.empty())
        DeliverNext();
}

void ManualWaveOut::DeliverNext() {
    if (finished_.empty())
        return;
    // Taken off first: the handler may deliver the next ones itself.
    WaveHeader* header = finished_.front();
    finished_.pop_front();
    listener_->WaveOutDone(*header);
}

void ManualWaveOut::AwaitCompletions(std::chrono::milliseconds) {
    if (finished_.empty())
        Finish(1);
    DeliverCompletions();
}

} // namespace morvane
