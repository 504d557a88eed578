#include "plugin/synth_plugin.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>

#include "engine/startup.h"
#include "engine/tuning.h"

namespace morvane::lv2 {

namespace {

const LV2_URID_Map* FindUridMap(const LV2_Feature* const* features) {
    for (; features && *features; ++features)
        if (std::strcmp((*features)->URI, LV2_URID__map) == 0)
            return static_cast<const LV2_URID_Map*>((*features)->data);
    return nullptr;
}

// The port's value as a position of a control ranging minimum..maximum; nothing for a
// port that is not connected or holds no number.
std::optional<int> PortPosition(const float* port, int minimum, int maximum) noexcept {
    if (!port || !std::isfinite(*port))
        return std::nullopt;
    const float clamped =
        std::clamp(*port, static_cast<float>(minimum), static_cast<float>(maximum));
    return static_cast<int>(std::lround(clamped));
}

std::optional<MidiMessage> ChannelMessage(const LV2_Atom& atom) noexcept {
    const auto* bytes = static_cast<const std::uint8_t*>(LV2_ATOM_BODY_CONST(&atom));
    if (atom.size == 0 || !IsChannelStatus(bytes[0]) ||
        atom.size != 1u + static_cast<unsigned>(DataByteCount(bytes[0])))
        return std::nullopt;
    MidiMessage message;
    std::copy_n(bytes, atom.size, message.bytes.begin());
    message.size = static_cast<std::uint8_t>(atom.size);
    return message;
}

// The run's messages straight from the host's sequence, in the order it delivered them;
// events of other types are passed over.
class SequenceMidi final : public PeriodMidi {
public:
    SequenceMidi(const LV2_Atom_Sequence* sequence, LV2_URID midiEvent)
        : sequence_(sequence), midiEvent_(midiEvent),
          next_(sequence ? lv2_atom_sequence_begin(&sequence->body) : nullptr) {}

    std::optional<MidiMessage> NextUpTo(int frame) noexcept override {
        for (;
             sequence_ && !lv2_atom_sequence_is_end(&sequence_->body, sequence_->atom.size, next_);
             next_ = lv2_atom_sequence_next(next_)) {
            if (next_->body.type != midiEvent_)
                continue;
            const std::optional<MidiMessage> message = ChannelMessage(next_->body);
            if (!message)
                continue;
            if (next_->time.frames > frame)
                return std::nullopt;
            next_ = lv2_atom_sequence_next(next_);
            return message;
        }
        return std::nullopt;
    }

private:
    const LV2_Atom_Sequence* sequence_;
    LV2_URID midiEvent_;
    const LV2_Atom_Event* next_;
};

} // namespace

Result<std::unique_ptr<SynthPlugin>> SynthPlugin::Create(double rate,
                                                         const LV2_Feature* const* features) {
    const LV2_URID_Map* map = FindUridMap(features);
    if (!map)
        return Error{"the host offers no " LV2_URID__map};
    // The resampler refuses what it cannot reach; a fraction of a hertz it cannot be told.
    if (!(rate >= 1 && rate <= kHighestRate) || rate != std::floor(rate))
        return Error{"cannot run at " + std::to_string(rate) + " Hz"};
    const int deviceRate = static_cast<int>(rate);
    Result<Resampler> resampler = Resampler::Create(deviceRate);
    if (!resampler)
        return resampler.error();

    std::unique_ptr<SynthPlugin> plugin(new SynthPlugin(
        deviceRate, map->map(map->handle, LV2_MIDI__MidiEvent), resampler->DelayFrames()));
    if (Status started = plugin->Activate(); !started)
        return started.error();
    return plugin;
}

SynthPlugin::SynthPlugin(int rate, LV2_URID midiEvent, int latencyFrames)
    : rate_(rate), midiEvent_(midiEvent), latencyFrames_(latencyFrames) {}

Status SynthPlugin::Activate() {
    // The start-up sliders, then the default preset.
    auto state = std::make_unique<SynthState>();
    SoundControls controls(*state);
    StartEngine(*state, controls, kDefaultTuning);
    LoadPreset(controls, DefaultPresetValues());
    Result<std::unique_ptr<RealtimePlayer>> player =
        RealtimePlayer::Create(*state, RealtimePlayer::Pace::Live, rate_);
    if (!player)
        return player.error();
    player_ = std::move(*player);
    for (int i = 0; i < kControlCount; ++i)
        ports_[i] = controls.Position(static_cast<ControlId>(i));
    tuningPort_ = state->Tuning;
    for (int i = 0; i < kPlayingPortCount; ++i)
        playingPorts_[i] = ReadPlaying(*state, kPlayingControls[i]);
    return {};
}

void SynthPlugin::ConnectPort(std::uint32_t port, void* data) noexcept {
    const int index = static_cast<int>(port);
    if (index == kMidiInPort)
        midiIn_ = static_cast<const LV2_Atom_Sequence*>(data);
    else if (index == kOutPort)
        out_ = static_cast<float*>(data);
    else if (index == kLatencyPort)
        latency_ = static_cast<float*>(data);
    else if (index == kTuningPort)
        tuning_ = static_cast<const float*>(data);
    else if (index >= kFirstControlPort && index < kTuningPort)
        controls_[index - kFirstControlPort] = static_cast<const float*>(data);
    else if (index >= kFirstPlayingPort && index < kControlInPort)
        playing_[index - kFirstPlayingPort] = static_cast<const float*>(data);
}

void SynthPlugin::Run(std::uint32_t frames) noexcept {
    FollowControlPorts();
    FollowTuningPort();
    FollowPlayingPorts();
    // The player applies each message before the first block that starts at or after its
    // frame.
    SequenceMidi midi(midiIn_, midiEvent_);
    if (out_)
        player_->Render(out_, static_cast<int>(frames), midi);
    DropPanelActions();
    if (latency_)
        *latency_ = static_cast<float>(latencyFrames_);
}

// A change reaches the sound at the next block boundary, as a slider move does. When the
// player's queue is full the value stays unapplied and is offered again next run.
void SynthPlugin::FollowControlPorts() noexcept {
    for (int i = 0; i < kControlCount; ++i) {
        const auto id = static_cast<ControlId>(i);
        const std::optional<int> position =
            PortPosition(controls_[i], Describe(id).minimum, Describe(id).maximum);
        if (position && *position != ports_[i] && player_->Send(Command{SetControl{id, *position}}))
            ports_[i] = *position;
    }
}

void SynthPlugin::FollowTuningPort() noexcept {
    const std::optional<int> tuning = PortPosition(tuning_, kLowestTuning, kHighestTuning);
    if (tuning && *tuning != tuningPort_ && player_->Send(Command{SetTuning{*tuning}}))
        tuningPort_ = *tuning;
}

// Like the tuning; an RPN that set the bend range stays until the port moves.
void SynthPlugin::FollowPlayingPorts() noexcept {
    for (int i = 0; i < kPlayingPortCount; ++i) {
        const PlayingControl control = kPlayingControls[i];
        const std::optional<int> value = PortPosition(playing_[i], 0, LargestPlaying(control));
        if (value && *value != playingPorts_[i] &&
            player_->Send(Command{SetPlaying{control, *value}}))
            playingPorts_[i] = *value;
    }
}

// What a controller or a program change did inside the player comes back for a panel to
// show; the host shows the ports and keeps the presets, so the queue is only emptied.
void SynthPlugin::DropPanelActions() noexcept {
    while (player_->PopPanelAction()) {
    }
}

} // namespace morvane::lv2
