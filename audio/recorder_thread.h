#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "audio/realtime_player.h"
#include "audio/wav_recorder.h"

namespace morvane {

// Writes the blocks a RealtimePlayer sends back to a WavRecorder, on a thread of its own,
// so that neither the audio callback nor the user interface waits for the disk. The
// recording holds exactly the blocks rendered from Start to Stop, in the recorder's
// usual file layout; a failure on the way goes to the recorder's ErrorReporter and
// RecordingListener as before, but from this thread: the owner passes them on to its
// own. Start, Stop and Recording belong to the owner's thread.
class RecorderThread {
public:
    // Both must outlive the thread.
    RecorderThread(RealtimePlayer& player, WavRecorder& recorder);
    ~RecorderThread();
    RecorderThread(const RecorderThread&) = delete;
    RecorderThread& operator=(const RecorderThread&) = delete;

    // Opens the file and has the player send its blocks from its next one on.
    Status Start();
    // Writes what is still queued and finishes the file. The player renders on: it
    // must either have stopped already or be told by the recorder's listener.
    void Stop();
    bool Recording();

private:
    void Run(const std::stop_token& stop);
    // Writes every queued block, while the recording lasts.
    void WriteQueued();

    RealtimePlayer& player_;
    WavRecorder& recorder_;
    // The recorder is written by this thread and started and stopped by the owner's.
    std::mutex recorderLock_;
    std::jthread thread_;
};

} // namespace morvane
