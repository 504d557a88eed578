#include "audio/realtime_player.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <span>
#include <string>
#include <type_traits>
#include <variant>

#include "base/overloaded.h"
#include "engine/block_renderer.h"
#include "midi/midi_mapping.h"

namespace morvane {

Result<std::unique_ptr<RealtimePlayer>> RealtimePlayer::Create(const SoundParameters& sound,
                                                               Pace pace, int deviceRate) {
    Result<Resampler> resampler = Resampler::Create(deviceRate);
    if (!resampler)
        return resampler.error();
    std::unique_ptr<RealtimePlayer> player(new RealtimePlayer(pace, std::move(*resampler)));
    InitialiseRunningState(*player->state_);
    static_cast<SoundParameters&>(*player->state_) = sound;
    return player;
}

RealtimePlayer::RealtimePlayer(Pace pace, Resampler resampler)
    : pace_(pace), resampler_(std::move(resampler)), state_(std::make_unique<SynthState>()),
      instrument_(*state_), midi_(std::make_unique<MidiMapping>()) {}

RealtimePlayer::~RealtimePlayer() = default;

// What the old device had not yet played is gone with it: the sound to be heard out at
// the close starts afresh at the new rate.
Status RealtimePlayer::UseDeviceRate(int deviceRate) {
    if (deviceRate == resampler_.DeviceRate())
        return {};
    Result<Resampler> resampler = Resampler::Create(deviceRate);
    if (!resampler)
        return resampler.error();
    resampler_ = std::move(*resampler);
    lastSoundFrame_.store(framesOut_.load());
    resamplerStartFrame_ = framesOut_.load();
    resamplerIn_ = 0;
    return {};
}

Status RealtimePlayer::KeepLead(const BlockLead& lead) {
    if (lead.blocks < 0 || lead.silent < 0 || lead.blocks > kLeadCapacity ||
        lead.silent > kLeadCapacity)
        return Error{"a lead of " + std::to_string(std::max(lead.blocks, lead.silent)) +
                     " blocks is more than the player keeps"};
    lead_ = lead;
    // Through a lead the next block comes from it; without, on from what is rendered.
    blockUsed_ = lead.blocks > 0 ? kBlockSamples : rendered_;
    leadFirst_ = 0;
    leadCount_ = lead.silent;
    for (int i = 0; i < leadCount_; ++i)
        leadBlocks_[i].fill(0);
    leadIsSound_.reset();
    return {};
}

Status RealtimePlayer::ListenToMidi(std::optional<int> channel,
                                    const ControllerBindings& bindings) {
    midi_->Bindings() = bindings;
    if (!channel) {
        midi_->ListenToAllChannels();
        return {};
    }
    return midi_->ListenToChannel(*channel);
}

const ControllerBindings& RealtimePlayer::Bindings() const {
    return midi_->Bindings();
}

void RealtimePlayer::ApplyCommand(const Command& command) {
    const KeyColourChanges changes = instrument_.Apply(command);
    if ((changes.Resting.any() || changes.Sounding.any()) && !colours_.Push(changes))
        colourOverflows_.fetch_add(1, std::memory_order_relaxed);
}

void RealtimePlayer::ApplyEvent(const PlayerEvent& event) {
    std::visit(
        Overloaded{
            [&](const Command& command) {
                // The sweep, which knows only the keyboard and the mouse, leaves
                // the keys MIDI holds sounding.
                if (const auto* sweep = std::get_if<ReleaseUnheld>(&command))
                    ApplyCommand(ReleaseUnheld{sweep->keysHeld | midiKeys_, sweep->ctrlHeld});
                else
                    ApplyCommand(command);
            },
            [&](const PanelSound& panel) {
                if (panel.panelActionsSeen >= panelActionsPushed_)
                    ApplyCommand(panel.sound);
            },
            [&](const MidiMessage& message) { ApplyMidi(message); },
            // The interface offers learn on sliders alone, the only controls it can
            // fail on.
            [&](const ArmLearn& learn) { static_cast<void>(midi_->ArmLearn(learn.id)); },
            [&](const ForgetController& forget) { midi_->Bindings().Unbind(forget.id); },
            [&](const CancelLearn&) { midi_->CancelLearn(); },
            [&](const MidiSetup& listen) {
                if (listen.channel != midi_->Channel())
                    ApplyMidiActions(midi_->ReleaseEveryKey());
                // The window offers the channels 1..16 alone.
                static_cast<void>(ListenToMidi(listen.channel, listen.bindings));
            },
            [](const RenderBlocks&) {},
            [](const RenderSamples&) {},
            [](const MidiMessageHere&) {},
            [](const EndOfScore&) {},
        },
        event);
}

// Everything a message does to the sound happens here; what the panel shows of it follows.
template <typename MidiCommand> void RealtimePlayer::ApplyMidiCommand(const MidiCommand& command) {
    if constexpr (std::is_same_v<MidiCommand, ControllerLearnt>) {
        PushPanelAction(command);
    } else {
        // Keyless notes have no button and the sweep leaves them alone.
        if constexpr (std::is_same_v<MidiCommand, KeyDown>) {
            if (command.key < kKeyCount)
                midiKeys_.set(command.key);
        }
        if constexpr (std::is_same_v<MidiCommand, KeyUp>) {
            if (command.key < kKeyCount)
                midiKeys_.reset(command.key);
        }
        ApplyCommand(command);
        if constexpr (std::is_same_v<MidiCommand, SetControl> ||
                      std::is_same_v<MidiCommand, LoadProgram> ||
                      std::is_same_v<MidiCommand, SetPlaying>)
            PushPanelAction(command);
    }
}

void RealtimePlayer::ApplyMidi(const MidiMessage& message) {
    ApplyMidiActions(midi_->Apply(message.Bytes()));
    midiHeard_.store(midi_->Heard(), std::memory_order_relaxed);
}

void RealtimePlayer::ApplyMidiActions(const MidiActions& actions) {
    for (const MidiAction& action : actions)
        std::visit([&](const auto& command) { ApplyMidiCommand(command); }, action);
}

bool RealtimePlayer::TryPushPanelAction(const PanelAction& action) {
    if (!panelActions_.Push(action))
        return false;
    ++panelActionsPushed_;
    return true;
}

// A burst of controller moves can outrun the panel. Then the latest move of each slider
// and the latest program change wait here, in their order, and go when there is room: the
// panel ends where the sound is, and never takes a sound back to a position it missed.
// A program change makes the waiting moves of the sliders its preset sets pointless.
void RealtimePlayer::PushPanelAction(const PanelAction& action) {
    std::visit(Overloaded{
                   [&](const SetControl& move) {
                       if (PanelActionsWaiting() || !TryPushPanelAction(action))
                           waitingMoves_[move.id] = move.position;
                   },
                   [&](const LoadProgram& load) {
                       std::fill_n(waitingMoves_.begin(), kPresetControlCount, std::nullopt);
                       if (PanelActionsWaiting() || !TryPushPanelAction(action))
                           waitingProgram_ = load.slot;
                   },
                   [&](const ControllerLearnt&) {
                       if (!TryPushPanelAction(action))
                           panelActionOverflows_.fetch_add(1, std::memory_order_relaxed);
                   },
                   [&](const SetPlaying& set) {
                       if (PanelActionsWaiting() || !TryPushPanelAction(action))
                           waitingPlaying_[static_cast<std::size_t>(set.control)] = set.value;
                   },
               },
               action);
}

bool RealtimePlayer::PanelActionsWaiting() const {
    const auto waits = [](const std::optional<int>& value) { return value.has_value(); };
    return waitingProgram_ || std::ranges::any_of(waitingMoves_, waits) ||
           std::ranges::any_of(waitingPlaying_, waits);
}

void RealtimePlayer::SendWaitingPanelActions() {
    if (waitingProgram_) {
        if (!TryPushPanelAction(LoadProgram{*waitingProgram_}))
            return;
        waitingProgram_.reset();
    }
    for (int i = 0; i < kControlCount; ++i) {
        std::optional<int>& move = waitingMoves_[i];
        if (!move)
            continue;
        if (!TryPushPanelAction(SetControl{static_cast<ControlId>(i), *move}))
            return;
        move.reset();
    }
    for (const PlayingControl control : kPlayingControls) {
        std::optional<int>& value = waitingPlaying_[static_cast<std::size_t>(control)];
        if (!value)
            continue;
        if (!TryPushPanelAction(SetPlaying{control, *value}))
            return;
        value.reset();
    }
}

bool RealtimePlayer::SendOrKeep(const PlayerEvent& event) {
    if (SendWaiting() && Send(event))
        return false;
    waitingEvents_.push_back(event);
    return true;
}

bool RealtimePlayer::SendWaiting() {
    while (!waitingEvents_.empty() && Send(waitingEvents_.front()))
        waitingEvents_.pop_front();
    return waitingEvents_.empty();
}

void RealtimePlayer::Apply() {
    if (pace_ != Pace::Live)
        return;
    if (waitingSequencer_)
        ApplyTimedMidi(waitingSequencer_->message);
    waitingSequencer_.reset();
    while (std::optional<StampedMessage> stamped = sequencerMidi_.Pop())
        ApplyTimedMidi(stamped->message);
    ApplyQueue();
}

void RealtimePlayer::ApplyQueue() {
    while (std::optional<PlayerEvent> event = events_.Pop())
        ApplyEvent(*event);
}

std::int64_t RealtimePlayer::SteadyNanoseconds() noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void RealtimePlayer::ApplyMidiUpTo(PeriodMidi* midi, int frame) {
    if (!midi)
        return;
    while (std::optional<PeriodMessage> message = midi->NextUpTo(frame))
        ApplyTimedMidi(message->message);
}

// A message of the channel listened to cuts the stream where it applies, whatever it does;
// one of another channel changes nothing and cuts nothing.
void RealtimePlayer::ApplyTimedMidi(const MidiMessage& message) {
    const std::uint64_t heard = midi_->Heard();
    ApplyMidi(message);
    if (midi_->Heard() != heard)
        renderer_.Cut();
}

std::uint64_t RealtimePlayer::InputPosition() const {
    return resamplerIn_ + static_cast<std::uint64_t>(rendered_ - blockUsed_);
}

// Frame h of the resampler's output (counted from its start) applies before input sample
// ceil(h × 22050 / R): every frame before h is made of earlier samples alone, so the event
// is never late, and at 22050 Hz it is sample h itself.
std::uint64_t RealtimePlayer::SampleOfFrame(std::uint64_t frame) const {
    const auto rate = static_cast<std::uint64_t>(resampler_.DeviceRate());
    return (frame * kSampleRate + rate - 1) / rate;
}

// The resampler makes output frame j from the input up to sample floor(j × 22050 / R) and
// no further: to fill frames 0..frames - 1 it needs that many samples and one more.
std::uint64_t RealtimePlayer::InputForFrames(std::uint64_t frames) const {
    const auto rate = static_cast<std::uint64_t>(resampler_.DeviceRate());
    return frames == 0 ? 0 : (frames - 1) * kSampleRate / rate + 1;
}

// A message that came k nanoseconds into the period before applies k nanoseconds into
// this one, at the frame's sample: a period late, its spacing kept. One that came earlier
// applies at the period's start, one that seems later (a late callback) at its end.
std::optional<std::uint64_t> RealtimePlayer::SequencerSample() {
    if (!waitingSequencer_) {
        if (pace_ != Pace::Live || lead_.blocks > 0 || periodFrames_ == 0)
            return std::nullopt;
        waitingSequencer_ = sequencerMidi_.Pop();
        if (!waitingSequencer_)
            return std::nullopt;
    }
    if (waitingSequencer_->arrival >= periodTime_)
        return std::nullopt;
    constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
    const std::int64_t since =
        std::max<std::int64_t>(waitingSequencer_->arrival - previousPeriodTime_, 0);
    const std::int64_t frame = std::min<std::int64_t>(
        since / kNanosecondsPerSecond * resampler_.DeviceRate() +
            since % kNanosecondsPerSecond * resampler_.DeviceRate() / kNanosecondsPerSecond,
        periodFrames_ - 1);
    return SampleOfFrame(periodStart_ + static_cast<std::uint64_t>(frame));
}

// The period's messages and the sequencer's in the order of their samples, the period's
// first at the same sample.
void RealtimePlayer::ApplyDueMidi(PeriodMidi* midi) {
    for (;;) {
        if (!waitingMidi_ && midi) {
            if (std::optional<PeriodMessage> next =
                    midi->NextUpTo(std::numeric_limits<int>::max())) {
                const std::uint64_t frame =
                    periodStart_ + static_cast<std::uint64_t>(std::max(next->frame, 0));
                waitingMidi_ = TimedMessage{next->message, SampleOfFrame(frame)};
            }
        }
        const std::optional<std::uint64_t> sequencer = SequencerSample();
        const std::uint64_t position = InputPosition();
        if (waitingMidi_ && waitingMidi_->sample <= position &&
            (!sequencer || waitingMidi_->sample <= *sequencer)) {
            ApplyTimedMidi(waitingMidi_->message);
            waitingMidi_.reset();
        } else if (sequencer && *sequencer <= position) {
            ApplyTimedMidi(waitingSequencer_->message);
            waitingSequencer_.reset();
        } else {
            return;
        }
    }
}

std::optional<std::uint64_t> RealtimePlayer::NextMidiSample() {
    std::optional<std::uint64_t> next = SequencerSample();
    if (waitingMidi_ && (!next || waitingMidi_->sample < *next))
        next = waitingMidi_->sample;
    return next;
}

// A scored player takes events until one allows samples; what came before it belongs
// before them, as a score's commands come before its wait. Whatever changes the sound cuts
// the stream there. The score's end finishes the block it falls in.
bool RealtimePlayer::TakeScoredEvents() {
    while (samplesAllowed_ == 0) {
        if (endAfterBlock_ && rendered_ == 0) {
            EndRendering();
            return false;
        }
        std::optional<PlayerEvent> event = events_.Pop();
        if (!event) {
            starved_.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        std::visit(Overloaded{
                       [&](const RenderBlocks& render) {
                           samplesAllowed_ = render.blocks * kBlockSamples;
                       },
                       [&](const RenderSamples& render) { samplesAllowed_ = render.samples; },
                       [&](const EndOfScore&) {
                           endAfterBlock_ = true;
                           if (rendered_ != 0)
                               samplesAllowed_ =
                                   static_cast<std::uint64_t>(kBlockSamples - rendered_);
                       },
                       [&](const Command& command) {
                           ApplyEvent(command);
                           renderer_.Cut();
                       },
                       [&](const MidiMessageHere&) { renderer_.Cut(); },
                       [&](const MidiMessage& message) { ApplyTimedMidi(message); },
                       [&](const auto& other) { ApplyEvent(other); },
                   },
                   *event);
    }
    return true;
}

void RealtimePlayer::EndRendering() {
    renderingEnded_ = true;
    if (leadCount_ == 0)
        ended_.store(true, std::memory_order_release);
}

// Live, what the queue holds applies here, on the grid: the keyboard, the mouse and the
// panel carry no time.
bool RealtimePlayer::StartBlock() {
    SendWaitingPanelActions();
    if (stopped_.load(std::memory_order_acquire)) {
        EndRendering();
        return false;
    }
    if (renderingEnded_)
        return false;
    if (pace_ == Pace::Live && lead_.blocks > 0)
        Apply();
    else if (pace_ == Pace::Live)
        ApplyQueue();
    rendered_ = 0;
    if (pace_ == Pace::Scored && !TakeScoredEvents()) {
        rendered_ = kBlockSamples;
        return false;
    }
    return true;
}

bool RealtimePlayer::RenderUpTo(int position, PeriodMidi* midi) {
    while (rendered_ < position) {
        ApplyDueMidi(midi);
        std::uint64_t count = static_cast<std::uint64_t>(position - rendered_);
        if (pace_ == Pace::Scored) {
            if (!TakeScoredEvents())
                return false;
            count = std::min(count, samplesAllowed_);
        }
        if (const std::optional<std::uint64_t> next = NextMidiSample())
            count = std::min(count, *next - InputPosition());
        // A score allows no more than is rendered now, whatever cut it short.
        if (pace_ == Pace::Scored)
            samplesAllowed_ -= count;
        const BlockResult result =
            renderer_.Render(*state_, rendering_.data() + rendered_, static_cast<int>(count));
        rendered_ += static_cast<int>(count);
        if (result.EndedKeys.any() && !colours_.Push(KeyColourChanges{KeySet{}, result.EndedKeys}))
            colourOverflows_.fetch_add(1, std::memory_order_relaxed);
        // The recorder takes whole blocks, as they are completed.
        if (rendered_ == kBlockSamples && recording_.load(std::memory_order_acquire) &&
            !recorded_.Push(rendering_))
            recordOverflows_.fetch_add(1, std::memory_order_relaxed);
    }
    return true;
}

bool RealtimePlayer::NextBlock(std::int16_t* block) {
    if (rendered_ == kBlockSamples && !StartBlock())
        return false;
    if (!RenderUpTo(kBlockSamples, nullptr))
        return false;
    std::copy_n(rendering_.begin(), kBlockSamples, block);
    return true;
}

// A block taken makes room for one rendered behind those still waiting, as a buffer a
// device hands back is queued again behind the others: so it is heard as many blocks
// after its render. Once rendering has ended the silence the lead started with is no
// longer worth waiting for.
bool RealtimePlayer::NextFromLead() {
    if (stopped_.load(std::memory_order_acquire))
        renderingEnded_ = true;
    while (renderingEnded_ && leadCount_ > 0 && !leadIsSound_[leadFirst_])
        DropOldestLead();
    if (leadCount_ == 0)
        TopUpLead();
    if (leadCount_ == 0) {
        if (renderingEnded_)
            ended_.store(true, std::memory_order_release);
        return false;
    }
    block_ = leadBlocks_[leadFirst_];
    blockIsSound_ = leadIsSound_[leadFirst_];
    DropOldestLead();
    TopUpLead();
    return true;
}

void RealtimePlayer::TopUpLead() {
    while (!renderingEnded_ && leadCount_ < lead_.blocks) {
        const int slot = (leadFirst_ + leadCount_) % kLeadCapacity;
        if (!NextBlock(leadBlocks_[slot].data()))
            return;
        leadIsSound_[slot] = true;
        ++leadCount_;
    }
}

void RealtimePlayer::DropOldestLead() {
    leadIsSound_[leadFirst_] = false;
    leadFirst_ = (leadFirst_ + 1) % kLeadCapacity;
    --leadCount_;
}

// Through a lead, whole blocks, each with the period's MIDI up to its first frame.
void RealtimePlayer::NextLeadInput(PeriodMidi* midi, int done) {
    ApplyMidiUpTo(midi, done);
    blockIsSound_ = NextFromLead();
    if (!blockIsSound_)
        block_.fill(0);
    blockUsed_ = 0;
}

// Without a lead, as far as the device needs and no further, so that a message of a later
// period still finds its sample ahead; at least a sample, should the resampler want one
// more. A new block starts only when the last one has gone to the resampler.
void RealtimePlayer::NextStreamInput(PeriodMidi* midi, std::uint64_t wanted) {
    if (rendered_ == kBlockSamples) {
        blockIsSound_ = StartBlock();
        blockUsed_ = 0;
        if (!blockIsSound_) {
            rendering_.fill(0);
            return;
        }
    }
    const std::uint64_t position = InputPosition();
    const std::uint64_t missing = wanted > position ? wanted - position : 1;
    const int upTo =
        rendered_ + static_cast<int>(std::min<std::uint64_t>(missing, kBlockSamples - rendered_));
    static_cast<void>(RenderUpTo(upTo, midi));
}

template <typename Sample>
void RealtimePlayer::RenderAny(Sample* out, int frames, PeriodMidi* midi) noexcept {
    const std::uint64_t start = framesOut_.load(std::memory_order_relaxed);
    periodStart_ = start - resamplerStartFrame_;
    const std::int64_t now = clock_();
    previousPeriodTime_ = periodFrames_ > 0 ? periodTime_ : now;
    periodTime_ = now;
    periodFrames_ = frames;
    const std::uint64_t wanted = InputForFrames(periodStart_ + static_cast<std::uint64_t>(frames));
    const bool lead = lead_.blocks > 0;
    const std::int16_t* input = lead ? block_.data() : rendering_.data();
    int done = 0;
    while (done < frames) {
        if (blockUsed_ == (lead ? kBlockSamples : rendered_)) {
            if (lead)
                NextLeadInput(midi, done);
            else
                NextStreamInput(midi, wanted);
            // A scored player whose producer is late mid-block plays silence meanwhile.
            if (blockUsed_ == (lead ? kBlockSamples : rendered_)) {
                std::fill(out + done, out + frames, Sample{});
                break;
            }
        }
        const Resampler::Progress progress =
            resampler_.Process(std::span<const std::int16_t>(
                                   input + blockUsed_, input + (lead ? kBlockSamples : rendered_)),
                               std::span<Sample>(out + done, frames - done));
        blockUsed_ += progress.consumed;
        resamplerIn_ += static_cast<std::uint64_t>(progress.consumed);
        done += progress.produced;
        if (blockIsSound_ && blockUsed_ == kBlockSamples)
            lastSoundFrame_.store(start + done + resampler_.DelayFrames(),
                                  std::memory_order_relaxed);
        if (progress.consumed == 0 && progress.produced == 0) {
            std::fill(out + done, out + frames, Sample{});
            break;
        }
    }
    // What is left of the period applies before the first sample of the next: nothing
    // reads the state before then, so nothing has to be kept for it. The cut waits there.
    if (waitingMidi_)
        ApplyTimedMidi(waitingMidi_->message);
    waitingMidi_.reset();
    while (SequencerSample()) {
        ApplyTimedMidi(waitingSequencer_->message);
        waitingSequencer_.reset();
    }
    ApplyMidiUpTo(midi, std::numeric_limits<int>::max());
    framesOut_.store(start + frames, std::memory_order_release);
}
void RealtimePlayer::Render(std::int16_t* out, int frames) noexcept {
    RenderAny(out, frames, nullptr);
}

void RealtimePlayer::Render(float* out, int frames) noexcept {
    RenderAny(out, frames, nullptr);
}

void RealtimePlayer::Render(float* out, int frames, PeriodMidi& midi) noexcept {
    RenderAny(out, frames, &midi);
}

} // namespace morvane
