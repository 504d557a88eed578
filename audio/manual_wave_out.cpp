#include "audio/manual_wave_out.h"

namespace morvane {

void ManualWaveOut::FailNext(Step step, int succeeding) {
    failAfter_[static_cast<int>(step)] = succeeding;
}

bool ManualWaveOut::Fails(Step step) {
    int& remaining = failAfter_[static_cast<int>(step)];
    if (remaining < 0)
        return false;
    return remaining-- == 0;
}

void ManualWaveOut::NoteCallWhileClosed() {
    if (!open_)
        ++callsWhileClosed_;
}

bool ManualWaveOut::Open(CompletionListener& listener) {
    if (Fails(Step::Open))
        return false;
    listener_ = &listener;
    open_ = true;
    return true;
}

bool ManualWaveOut::Prepare(WaveHeader& header) {
    NoteCallWhileClosed();
    if (Fails(Step::Prepare))
        return false;
    header.Prepared = true;
    return true;
}

bool ManualWaveOut::Write(WaveHeader& header) {
    NoteCallWhileClosed();
    if (!header.Prepared || header.Queued || Fails(Step::Write))
        return false;
    header.Queued = true;
    queued_.push_back(&header);
    auto samples = static_cast<std::size_t>(header.BufferLength) / sizeof(std::int16_t);
    written_.emplace_back(header.Data, header.Data + samples);
    return true;
}

bool ManualWaveOut::Unprepare(WaveHeader& header) {
    NoteCallWhileClosed();
    if (header.Queued || Fails(Step::Unprepare))
        return false;
    header.Prepared = false;
    return true;
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
