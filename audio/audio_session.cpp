#include "audio/audio_session.h"

#include <utility>

#include "audio/realtime_scheduling.h"

namespace morvane {

namespace {

// How often a lost device is tried again.
constexpr std::chrono::seconds kReopenInterval{1};
// A device that has not played out what it had by then is stuck: the close goes on anyway.
constexpr std::chrono::seconds kLongestDrain{1};

// PortAudio's output latency on top of the classic lead's own 80 ms: the lowest that
// played without a gap on an idle machine and with both cores busy.
constexpr double kClassicSuggestedLatencySeconds = 0.06;
constexpr BlockLead kClassicLead{.blocks = 5, .silent = 26};

} // namespace

std::string WithReason(const char* failure, const Error& reason) {
    if (reason.message.empty())
        return failure;
    return std::string(failure) + ": " + reason.message;
}

AudioSessionSetup LowLatencySession(const RealtimeOutputOptions& output) {
    return AudioSessionSetup{.output = output, .lead = BlockLead{}};
}

AudioSessionSetup ClassicSession() {
    RealtimeOutputOptions output;
    output.api = AudioApi::PortAudio;
    output.bufferSeconds = kClassicSuggestedLatencySeconds;
    output.framesPerBuffer = kBlockSamples;
    return AudioSessionSetup{.output = output, .lead = kClassicLead, .growBuffer = false};
}

AudioSession::AudioSession(AudioSessionSetup setup, WavRecorder& recorder, ErrorReporter& errors)
    : setup_(std::move(setup)), recorder_(recorder), errors_(errors) {}

AudioSession::~AudioSession() {
    Close();
}

Status AudioSession::Open() {
    Result<std::unique_ptr<RealtimeOutput>> opened = setup_.open(setup_.output);
    if (!opened) {
        lost_ = true;
        nextReopen_ = std::chrono::steady_clock::now() + kReopenInterval;
        return opened.error();
    }
    output_ = std::move(*opened);
    return {};
}

int AudioSession::DeviceRate() const {
    return output_ ? output_->SampleRate() : kSampleRate;
}

Status AudioSession::Start(RealtimePlayer& player) {
    if (Status kept = player.KeepLead(setup_.lead); !kept)
        return kept;
    player_ = &player;
    recorderThread_ = std::make_unique<RecorderThread>(player, recorder_);
    if (output_)
        Attach();
    return {};
}

// The callback only ever touches the player and its state: kept in memory, where the
// system allows, they never wait for a page to come back from swap. A device that comes
// back starts again as the first one did, behind the lead's silence.
void AudioSession::Attach() {
    LockInMemory(player_, sizeof(RealtimePlayer));
    LockInMemory(&player_->State(), sizeof(SynthState));
    // The lead was accepted when the session started.
    static_cast<void>(player_->KeepLead(setup_.lead));
    growth_.Restart(std::chrono::steady_clock::now());
    output_->Attach(*player_);
}

void AudioSession::Tend() {
    if (closed_ || !player_)
        return;
    if (output_) {
        if (std::optional<Error> loss = output_->Loss())
            Lose(*loss);
        else
            Grow();
    } else if (reopening_.valid()) {
        if (reopening_.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
            TakeReopened(reopening_.get());
    } else if (lost_ && std::chrono::steady_clock::now() >= nextReopen_) {
        TryReopen();
    }
}

// Told once. Until the device is back the owner's thread takes the player's input; the
// callbacks have stopped, so the queue changes hands safely.
void AudioSession::Lose(const Error& loss) {
    output_.reset();
    lost_ = true;
    nextReopen_ = std::chrono::steady_clock::now() + kReopenInterval;
    rateRefusalTold_ = false;
    errors_.ShowError(WithReason(kWriteError, loss));
}

// Opening starts the audio library afresh, so that it sees the sound server as it is
// now; that takes a tenth of a second or more, once a second while the device is gone,
// so it runs beside the owner's thread. Nothing else touches the audio library
// meanwhile: there is no output to tend.
void AudioSession::TryReopen() {
    nextReopen_ = std::chrono::steady_clock::now() + kReopenInterval;
    reopening_ = std::async(std::launch::async, [open = setup_.open, options = setup_.output] {
        return open(options);
    });
}

void AudioSession::TakeReopened(Result<std::unique_ptr<RealtimeOutput>> opened) {
    if (!opened)
        return;
    // A server restarted at another rate is resampled for, as at start-up.
    if (Status rate = player_->UseDeviceRate((*opened)->SampleRate()); !rate) {
        if (!std::exchange(rateRefusalTold_, true))
            errors_.ShowError(WithReason(kOpenError, rate.error()));
        return;
    }
    output_ = std::move(*opened);
    lost_ = false;
    Attach();
}

// Real-time scheduling for the callback's thread once it runs, and a buffer that grows
// while underruns keep coming: in place where the output allows (PipeWire's quantum, a
// second PortAudio stream), else as a new output, a moment of silence once instead of a
// click every few seconds.
void AudioSession::Grow() {
    output_->Tend();
    if (!setup_.growBuffer)
        return;
    const std::optional<double> grown = growth_.Observe(
        output_->Underruns(), output_->BufferSeconds(), std::chrono::steady_clock::now());
    if (!grown)
        return;
    if (output_->GrowInPlace(*grown)) {
        setup_.output.bufferSeconds = *grown;
        return;
    }
    RealtimeOutputOptions options = setup_.output;
    options.api = output_->Api();
    options.bufferSeconds = *grown;
    output_.reset();
    Result<std::unique_ptr<RealtimeOutput>> opened = setup_.open(options);
    if (!opened || (*opened)->SampleRate() != player_->DeviceRate()) {
        lost_ = true;
        nextReopen_ = std::chrono::steady_clock::now() + kReopenInterval;
        return;
    }
    setup_.output.bufferSeconds = *grown;
    output_ = std::move(*opened);
    Attach();
}

bool AudioSession::Drained() {
    if (!player_ || closed_)
        return true;
    const auto now = std::chrono::steady_clock::now();
    if (!drainDeadline_)
        drainDeadline_ = now + kLongestDrain;
    player_->Stop();
    return !output_ || output_->Heard() || now >= *drainDeadline_;
}

// An open under way ends first; what it opened is let go unused. The recording is
// finished once the callbacks have stopped.
void AudioSession::Close() {
    if (std::exchange(closed_, true))
        return;
    if (reopening_.valid())
        static_cast<void>(reopening_.get());
    output_.reset();
    if (recorderThread_)
        recorderThread_->Stop();
    recorderThread_.reset();
}

Status AudioSession::StartRecording() {
    if (!output_ || output_->Loss() || !recorderThread_)
        return Error{kNoDeviceToRecord};
    return recorderThread_->Start();
}

void AudioSession::StopRecording() {
    if (recorderThread_)
        recorderThread_->Stop();
}

bool AudioSession::Recording() {
    return recorderThread_ && recorderThread_->Recording();
}

std::optional<OutputHealth> AudioSession::Health() const {
    if (!output_)
        return std::nullopt;
    return output_->Health();
}

} // namespace morvane
