#include "audio/realtime_player.h"

#include <algorithm>
#include <limits>
#include <span>
#include <variant>

#include "engine/block_renderer.h"
#include "engine/tuning.h"
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
      midi_(std::make_unique<MidiMapping>()) {}

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

// Ctrl and the mod wheel each hold the LFO gate; the gate follows the two together, so
// a release of one leaves it open while the other holds.
void RealtimePlayer::ApplyInput(const InputEvent& input) {
    InputEvent applied = input;
    if (input.kind == InputEvent::Kind::Ctrl || input.kind == InputEvent::Kind::ReleaseUnheld) {
        ctrlHolds_ = input.held;
        applied.held = ctrlHolds_ || wheelHolds_;
    }
    if (input.kind == InputEvent::Kind::ReleaseUnheld)
        applied.keysHeld |= midiKeys_;
    const KeyColourChanges changes = morvane::ApplyInput(*state_, applied);
    if ((changes.Resting.any() || changes.Sounding.any()) && !colours_.Push(changes))
        colourOverflows_.fetch_add(1, std::memory_order_relaxed);
}

void RealtimePlayer::ApplyEvent(const Event& event) {
    switch (event.kind) {
    case Event::Kind::Input:
        if (event.input.kind == InputEvent::Kind::Sound &&
            event.panelActionsSeen < panelActionsPushed_)
            break;
        ApplyInput(event.input);
        break;
    case Event::Kind::Midi:
        ApplyMidi(event.midi);
        break;
    case Event::Kind::Learn:
        // The interface offers learn on sliders alone, the only controls it can fail on.
        static_cast<void>(midi_->ArmLearn(event.control));
        break;
    case Event::Kind::Forget:
        midi_->Bindings().Unbind(event.control);
        break;
    case Event::Kind::Control:
        MoveControl(event.control, event.value);
        break;
    case Event::Kind::Preset:
        if (event.value >= 0 && event.value < kPresetSlotCount) {
            presets_[event.value] = event.preset;
            presetKnown_.set(event.value);
        }
        break;
    case Event::Kind::Tuning:
        ApplyTuning(*state_, event.value);
        break;
    case Event::Kind::Render:
    case Event::Kind::End:
        break;
    }
}

void RealtimePlayer::ApplyMidi(const MidiMessage& message) {
    for (const MidiAction& action : midi_->Apply(message.Bytes())) {
        if (const auto* down = std::get_if<KeyDown>(&action)) {
            midiKeys_.set(down->key);
            ApplyInput(InputEvent::KeyDown(down->key));
        } else if (const auto* up = std::get_if<KeyUp>(&action)) {
            midiKeys_.reset(up->key);
            ApplyInput(InputEvent::KeyUp(up->key));
        } else if (const auto* gate = std::get_if<LfoGate>(&action)) {
            wheelHolds_ = gate->held;
            state_->CtrlHeld = ctrlHolds_ || wheelHolds_;
        } else if (const auto* set = std::get_if<SetControl>(&action)) {
            MoveControl(set->id, set->position);
            PushPanelAction({PanelAction::Kind::SetControl, set->id, set->position});
        } else if (const auto* load = std::get_if<ChangeProgram>(&action)) {
            LoadProgram(load->slot);
            PushPanelAction({PanelAction::Kind::LoadPreset, ControlId{}, load->slot});
        } else if (const auto* learnt = std::get_if<ControllerLearnt>(&action)) {
            PushPanelAction({PanelAction::Kind::ControllerLearnt, learnt->id, learnt->controller});
        }
    }
}

void RealtimePlayer::MoveControl(ControlId id, int position) {
    const ControlDescription& d = Describe(id);
    WriteControl(*state_, id, std::clamp(position, d.minimum, d.maximum));
}

void RealtimePlayer::LoadProgram(int slot) {
    if (presetKnown_[slot])
        LoadPresetSound(*state_, presets_[slot]);
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
    switch (action.kind) {
    case PanelAction::Kind::SetControl:
        if (PanelActionsWaiting() || !TryPushPanelAction(action))
            waitingMoves_[action.control] = action.value;
        return;
    case PanelAction::Kind::LoadPreset:
        std::fill_n(waitingMoves_.begin(), kPresetControlCount, std::nullopt);
        if (PanelActionsWaiting() || !TryPushPanelAction(action))
            waitingProgram_ = action.value;
        return;
    case PanelAction::Kind::ControllerLearnt:
        if (!TryPushPanelAction(action))
            panelActionOverflows_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
}

bool RealtimePlayer::PanelActionsWaiting() const {
    return waitingProgram_ ||
           std::any_of(waitingMoves_.begin(), waitingMoves_.end(),
                       [](const std::optional<int>& move) { return move.has_value(); });
}

void RealtimePlayer::SendWaitingPanelActions() {
    if (waitingProgram_) {
        if (!TryPushPanelAction({PanelAction::Kind::LoadPreset, ControlId{}, *waitingProgram_}))
            return;
        waitingProgram_.reset();
    }
    for (int i = 0; i < kControlCount; ++i) {
        std::optional<int>& move = waitingMoves_[i];
        if (!move)
            continue;
        if (!TryPushPanelAction({PanelAction::Kind::SetControl, static_cast<ControlId>(i), *move}))
            return;
        move.reset();
    }
}

bool RealtimePlayer::SendOrKeep(const Event& event) {
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
    while (std::optional<MidiMessage> message = sequencerMidi_.Pop())
        ApplyMidi(*message);
    while (std::optional<Event> event = events_.Pop())
        ApplyEvent(*event);
}

void RealtimePlayer::ApplyMidiUpTo(PeriodMidi* midi, int frame) {
    if (!midi)
        return;
    while (std::optional<MidiMessage> message = midi->NextUpTo(frame))
        ApplyMidi(*message);
}

// A scored player takes events until one allows a block; what came before it belongs
// before that block, as a score's commands come before its render.
bool RealtimePlayer::FillBlock() {
    if (pace_ == Pace::Live) {
        Apply();
        return true;
    }
    while (blocksAllowed_ == 0) {
        std::optional<Event> event = events_.Pop();
        if (!event) {
            starved_.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        switch (event->kind) {
        case Event::Kind::Input:
        case Event::Kind::Midi:
        case Event::Kind::Learn:
        case Event::Kind::Forget:
        case Event::Kind::Control:
        case Event::Kind::Preset:
        case Event::Kind::Tuning:
            ApplyEvent(*event);
            break;
        case Event::Kind::Render:
            blocksAllowed_ = event->blocks;
            break;
        case Event::Kind::End:
            ended_.store(true, std::memory_order_release);
            return false;
        }
    }
    --blocksAllowed_;
    return true;
}

bool RealtimePlayer::NextBlock(std::int16_t* block) {
    SendWaitingPanelActions();
    if (stopped_.load(std::memory_order_acquire)) {
        ended_.store(true, std::memory_order_release);
        return false;
    }
    if (ended_.load(std::memory_order_relaxed) || !FillBlock())
        return false;
    const BlockResult result = RenderBlock(*state_, block);
    if (result.EndedKeys.any() && !colours_.Push(KeyColourChanges{KeySet{}, result.EndedKeys}))
        colourOverflows_.fetch_add(1, std::memory_order_relaxed);
    if (recording_.load(std::memory_order_acquire)) {
        Block copy;
        std::copy_n(block, kBlockSamples, copy.begin());
        if (!recorded_.Push(copy))
            recordOverflows_.fetch_add(1, std::memory_order_relaxed);
    }
    return true;
}

template <typename Sample>
void RealtimePlayer::RenderAny(Sample* out, int frames, PeriodMidi* midi) noexcept {
    const std::uint64_t start = framesOut_.load(std::memory_order_relaxed);
    int done = 0;
    while (done < frames) {
        if (blockUsed_ == kBlockSamples) {
            ApplyMidiUpTo(midi, done);
            blockIsSound_ = NextBlock(block_.data());
            if (!blockIsSound_)
                block_.fill(0);
            blockUsed_ = 0;
        }
        const Resampler::Progress progress =
            resampler_.Process(std::span<const std::int16_t>(block_).subspan(blockUsed_),
                               std::span<Sample>(out + done, frames - done));
        blockUsed_ += progress.consumed;
        done += progress.produced;
        if (blockIsSound_ && blockUsed_ == kBlockSamples)
            lastSoundFrame_.store(start + done + resampler_.DelayFrames(),
                                  std::memory_order_relaxed);
        if (progress.consumed == 0 && progress.produced == 0) {
            std::fill(out + done, out + frames, Sample{});
            break;
        }
    }
    // What came after the period's last block start belongs before the first block of a
    // later period, ahead of the queue there. Nothing reads the state before that block,
    // so it is applied now, and nothing has to be kept for it.
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
