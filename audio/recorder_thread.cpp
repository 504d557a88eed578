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
    std::lock_guard lock(recorderLock_);
    // Blocks of an earlier recording that came after its stop do not belong here.
    while (player_.PopRecordedBlock()) {
    }
    Status started = recorder_.StartRecording();
    if (started)
        player_.SetRecording(true);
    return started;
}

void RecorderThread::Stop() {
    player_.SetRecording(false);
    std::lock_guard lock(recorderLock_);
    WriteQueued();
    recorder_.StopRecording();
}

bool RecorderThread::Recording() {
    std::lock_guard lock(recorderLock_);
    return recorder_.Recording();
}

// The player cannot wake this thread without a system call, so the thread looks.
void RecorderThread::Run(const std::stop_token& stop) {
    while (!stop.stop_requested()) {
        {
            std::lock_guard lock(recorderLock_);
            WriteQueued();
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

void RecorderThread::WriteQueued() {
    while (std::optional<Block> block = player_.PopRecordedBlock()) {
        if (!recorder_.Recording())
            continue;
        recorder_.RecordBlock(block->data());
        // The recorder stopped itself (the ten minutes are full, or a write failed).
        if (!recorder_.Recording())
            player_.SetRecording(false);
    }
}

} // namespace morvane
