#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "audio/buffer_growth.h"
#include "audio/error_reporter.h"
#include "audio/output_health.h"
#include "audio/realtime_output.h"
#include "audio/realtime_player.h"
#include "audio/recorder_thread.h"
#include "audio/wav_recorder.h"
#include "base/result.h"

namespace morvane {

inline constexpr const char* kOpenError = "Problem creating play handle";
inline constexpr const char* kWriteError = "Wave out error";
// Recording takes the blocks on their way to the device: without one nothing is rendered.
inline constexpr const char* kNoDeviceToRecord = "No sound device: nothing can be recorded";

// The fixed message says which step failed; the device's reason, where it gives one,
// says why.
std::string WithReason(const char* failure, const Error& reason);

using OutputOpener =
    std::function<Result<std::unique_ptr<RealtimeOutput>>(const RealtimeOutputOptions&)>;

// How a latency mode plays: the device asked for, the lead of rendered blocks the player
// keeps ahead of it, and whether a buffer that keeps underrunning may grow.
struct AudioSessionSetup {
    RealtimeOutputOptions output;
    BlockLead lead;
    bool growBuffer = true;
    // Tests open a device of their own.
    OutputOpener open = RealtimeOutput::Open;
};

// The low-latency mode: the interface asked for, rendering as the device plays.
AudioSessionSetup LowLatencySession(const RealtimeOutputOptions& output);
// The classic mode: PortAudio's default device in 441-frame callbacks, with five blocks
// (100 ms) rendered ahead of what it plays and half a second of silence first. Its lead
// is what a user hears and plays against, so its buffer never grows.
AudioSessionSetup ClassicSession();

// The sound of a window for the whole run: the device, the player it pulls from, the
// recorder's thread, a device lost and found again, and the drain at the close. It has
// no thread of its own for any of it: the owner calls Tend from its thread every few
// milliseconds, and every call belongs to that thread.
class AudioSession {
public:
    // Failures that come after start-up (a device lost, a device back at a rate the player
    // cannot reach, the recorder's) go to errors.
    AudioSession(AudioSessionSetup setup, WavRecorder& recorder, ErrorReporter& errors);
    ~AudioSession();
    AudioSession(const AudioSession&) = delete;
    AudioSession& operator=(const AudioSession&) = delete;

    // Opens the device. A device that cannot be opened is tried again now and then, so a
    // user who starts the program before the sound server gets sound when it comes.
    Status Open();
    // The rate the player renders at: the device's, or the engine's without one.
    int DeviceRate() const;
    // The device plays the player from now on, through the setup's lead; the player must
    // outlive the session. Fails for a lead the player cannot keep.
    Status Start(RealtimePlayer& player);
    // Whether a device pulls from the player. While none does, the owner's thread is the
    // player's consumer and applies its input itself.
    bool Playing() const { return output_ != nullptr; }
    // The device brings MIDI of its own (a JACK port): no sequencer is needed beside it.
    bool TakesMidi() const { return output_ && output_->TakesMidi(); }

    // Watches the device, opens a lost one again, and grows a buffer that keeps
    // underrunning.
    void Tend();
    // The close: the player renders no more from the first call on; true once the device
    // has played out what it had, or at once when it has nothing or is gone. A device
    // that never gets there is given up on after a second.
    bool Drained();
    // Finishes a recording and lets the device go. Once closed the session does nothing.
    void Close();

    // Recording takes the blocks the player renders, only while a device plays them.
    Status StartRecording();
    void StopRecording();
    bool Recording();

    // The device's figures for the About box: none while there is no device.
    std::optional<OutputHealth> Health() const;
    bool Grown() const { return growth_.Grown(); }

private:
    void Attach();
    void Lose(const Error& loss);
    void TryReopen();
    void TakeReopened(Result<std::unique_ptr<RealtimeOutput>> opened);
    void Grow();

    AudioSessionSetup setup_;
    WavRecorder& recorder_;
    ErrorReporter& errors_;
    RealtimePlayer* player_ = nullptr;
    // Destroyed before the player it pulls from.
    std::unique_ptr<RealtimeOutput> output_;
    std::unique_ptr<RecorderThread> recorderThread_;
    // A lost device is tried again at nextReopen_, on a thread of its own, as an open
    // takes a tenth of a second or more.
    bool lost_ = false;
    std::chrono::steady_clock::time_point nextReopen_;
    std::future<Result<std::unique_ptr<RealtimeOutput>>> reopening_;
    // A device back at a rate the player cannot reach has been reported.
    bool rateRefusalTold_ = false;
    BufferGrowth growth_;
    std::optional<std::chrono::steady_clock::time_point> drainDeadline_;
    bool closed_ = false;
};

} // namespace morvane
