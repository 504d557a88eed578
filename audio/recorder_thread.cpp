#include "audio/recorder_thread.h"

#include <chrono>

namespace morvane {

namespace {

// Four blocks at a time; the player's queue holds 64, so the disk may stall for more
// than a second before a block is lost.
constexpr auto kPollInterval = std::chrono::milliseconds(80);

} // namespace

RecorderThread::RecorderThread(RealtimePlayer& player, WavRecorder& recorder)
    : player_(player), recorder_(recorder),
      thread_([this](const std::stop_token& stop) { Run(stop); }) {}

RecorderThread::~RecorderThread() {
    thread_.request_stop();
    thread_.join();
}

Status RecorderThread::Start() {
    {
        std::lock_guard lock(lock_);
        if (state_ != State::Idle)
            return {};
    }
    // While idle this thread leaves the recorder alone, so it is opened without the lock.
    // Blocks of an earlier recording that came after its stop do not belong here.
    while (player_.PopRecordedBlock()) {
    }
    Status started = recorder_.StartRecording();
    if (started) {
        std::lock_guard lock(lock_);
        state_ = State::Recording;
        player_.SetRecording(true);
    }
    return started;
}

void RecorderThread::Stop() {
    player_.SetRecording(false);
    {
        std::lock_guard lock(lock_);
        if (state_ != State::Recording)
            return;
        state_ = State::Stopping;
    }
    wake_.notify_one();
}

bool RecorderThread::Recording() {
    std::lock_guard lock(lock_);
    return state_ != State::Idle;
}

// The player cannot wake this thread without a system call, so the thread looks; a stop
// wakes it at once.
void RecorderThread::Run(const std::stop_token& stop) {
    std::unique_lock lock(lock_);
    while (!stop.stop_requested()) {
        State state = state_;
        lock.unlock();
        // While idle the owner's Start alone pops the queue, which has one reader at a time.
        if (state != State::Idle && (!WriteQueued() || state == State::Stopping))
            Finish();
        lock.lock();
        wake_.wait_for(lock, stop, kPollInterval, [this] { return state_ == State::Stopping; });
    }
    if (state_ != State::Idle) {
        lock.unlock();
        player_.SetRecording(false);
        WriteQueued();
        Finish();
    }
}

bool RecorderThread::WriteQueued() {
    while (std::optional<Block> block = player_.PopRecordedBlock()) {
        recorder_.RecordBlock(block->data());
        if (!recorder_.Recording()) {
            player_.SetRecording(false);
            return false;
        }
    }
    return true;
}

void RecorderThread::Finish() {
    recorder_.StopRecording();
    std::lock_guard lock(lock_);
    state_ = State::Idle;
}

} // namespace morvane
