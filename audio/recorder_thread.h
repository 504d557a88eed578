#pragma once

#include <condition_variable>
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
    // Both must outlive the thread. A recording still running when the thread ends is
    // finished first.
    RecorderThread(RealtimePlayer& player, WavRecorder& recorder);
    ~RecorderThread();
    RecorderThread(const RecorderThread&) = delete;
    RecorderThread& operator=(const RecorderThread&) = delete;

    // Opens the file and has the player send its blocks from its next one on. Nothing
    // happens while a recording runs or is still being finished.
    Status Start();
    // Has the thread write what is still queued and finish the file, and returns at once:
    // the recorder's listener says when the file is complete. The player renders on: it
    // must either have stopped already or be told by the recorder's listener.
    void Stop();
    // True from Start until the file is finished.
    bool Recording();

private:
    enum class State { Idle, Recording, Stopping };

    void Run(const std::stop_token& stop);
    // Writes every queued block; false when the recorder stopped itself (the ten minutes
    // are full, or a write failed).
    bool WriteQueued();
    void Finish();

    RealtimePlayer& player_;
    // Touched by the owner's thread only while Idle (to start), by this thread otherwise.
    WavRecorder& recorder_;
    // Guards the state alone, never the disk: the owner's thread takes it to start, to
    // stop and to ask, and must not wait for a write or a sync.
    std::mutex lock_;
    std::condition_variable_any wake_;
    State state_ = State::Idle;
    std::jthread thread_;
};

} // namespace morvane
