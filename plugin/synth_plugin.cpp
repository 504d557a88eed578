#include "plugin/synth_plugin.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include <lv2/atom/util.h>
#include <lv2/log/log.h>
#include <lv2/midi/midi.h>

#include "base/ascii.h"
#include "engine/startup.h"
#include "engine/tuning.h"
#include "plugin/ui_protocol.h"

namespace morvane::lv2 {

namespace {

template <typename Feature>
Feature* FindFeature(const LV2_Feature* const* features, const char* uri) {
    for (; features && *features; ++features)
        if (std::strcmp((*features)->URI, uri) == 0)
            return static_cast<Feature*>((*features)->data);
    return nullptr;
}

std::optional<int> IntOf(const LV2_Atom* atom, LV2_URID intType) noexcept {
    if (!atom || atom->type != intType || atom->size != sizeof(std::int32_t))
        return std::nullopt;
    return reinterpret_cast<const LV2_Atom_Int*>(atom)->body;
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

    std::optional<PeriodMessage> NextUpTo(int frame) noexcept override {
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
            const auto at = static_cast<int>(next_->time.frames);
            next_ = lv2_atom_sequence_next(next_);
            return PeriodMessage{*message, at};
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
    LV2_URID_Map* map = FindFeature<LV2_URID_Map>(features, LV2_URID__map);
    if (!map)
        return Error{"the host offers no " LV2_URID__map};
    // The resampler refuses what it cannot reach; a fraction of a hertz it cannot be told.
    if (!(rate >= 1 && rate <= kHighestRate) || rate != std::floor(rate))
        return Error{"cannot run at " + std::to_string(rate) + " Hz"};
    const int deviceRate = static_cast<int>(rate);
    Result<Resampler> resampler = Resampler::Create(deviceRate);
    if (!resampler)
        return resampler.error();

    std::unique_ptr<SynthPlugin> plugin(
        new SynthPlugin(deviceRate, *map, FindFeature<LV2_Log_Log>(features, LV2_LOG__log),
                        resampler->DelayFrames()));
    if (Status started = plugin->Activate(); !started)
        return started.error();
    return plugin;
}

SynthPlugin::Uris::Uris(const LV2_URID_Map& map) {
    auto Map = [&map](const char* uri) { return map.map(map.handle, uri); };
    midiEvent = Map(LV2_MIDI__MidiEvent);
    atomObject = Map(LV2_ATOM__Object);
    atomBlank = Map(LV2_ATOM__Blank);
    atomInt = Map(LV2_ATOM__Int);
    atomString = Map(LV2_ATOM__String);
    atomSequence = Map(LV2_ATOM__Sequence);
    learn = Map(ui::kLearn);
    cancelLearn = Map(ui::kCancelLearn);
    forget = Map(ui::kForget);
    restoreBindings = Map(ui::kRestoreBindings);
    describe = Map(ui::kDescribe);
    ctrl = Map(ui::kCtrl);
    keys = Map(ui::kKeys);
    bindings = Map(ui::kBindings);
    learnt = Map(ui::kLearnt);
    learnArmed = Map(ui::kLearnArmed);
    slider = Map(ui::kSlider);
    controller = Map(ui::kController);
    takenFrom = Map(ui::kTakenFrom);
    sounding = Map(ui::kSounding);
    text = Map(ui::kText);
    held = Map(ui::kHeld);
    bindingsState = Map(ui::kBindingsState);
}

SynthPlugin::SynthPlugin(int rate, LV2_URID_Map& map, LV2_Log_Log* log, int latencyFrames)
    : rate_(rate), uris_(map), latencyFrames_(latencyFrames) {
    // Without the host's log, messages go to its terminal.
    lv2_log_logger_init(&logger_, &map, log);
    lv2_atom_forge_init(&forge_, &map);
}

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
    // No sequencer feeds an instance, whose messages carry their frames: its run() reads no
    // clock, which where the kernel offers no fast one is a system call.
    player_->UseClock([]() noexcept -> std::int64_t { return 0; });
    // The bindings are the instance's, kept with the session: they outlive a restart.
    static_cast<void>(player_->ListenToMidi(std::nullopt, bindings_));
    keysToSend_ = keysToSend_ || sounding_.any();
    sounding_.reset();
    ctrlWanted_ = false;
    ctrlHeld_ = false;
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
    else if (index == kControlInPort)
        control_ = static_cast<const LV2_Atom_Sequence*>(data);
    else if (index == kNotifyPort)
        notify_ = static_cast<LV2_Atom_Sequence*>(data);
}

void SynthPlugin::Run(std::uint32_t frames) noexcept {
    FollowControlPorts();
    FollowTuningPort();
    FollowPlayingPorts();
    ReadPanelMessages();
    FollowCtrl();
    // The player applies each message before the sample of its frame, counted since the
    // activation: never later, so the latency port holds the resampler's delay alone.
    SequenceMidi midi(midiIn_, uris_.midiEvent);
    if (out_)
        player_->Render(out_, static_cast<int>(frames), midi);
    FollowPlayer();
    WriteNotify();
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

// Like a port: only the latest state counts, and one the player's queue has no room for
// is offered again next run, so a release is never lost and the gate never stuck.
void SynthPlugin::FollowCtrl() noexcept {
    if (ctrlWanted_ != ctrlHeld_ &&
        player_->Send(Command{HoldLfo{LfoHolder::CtrlKey, ctrlWanted_}}))
        ctrlHeld_ = ctrlWanted_;
}

// The panel's messages go to the player ahead of the run's MIDI from the host.
void SynthPlugin::ReadPanelMessages() noexcept {
    if (!control_)
        return;
    for (const LV2_Atom_Event* event = lv2_atom_sequence_begin(&control_->body);
         !lv2_atom_sequence_is_end(&control_->body, control_->atom.size, event);
         event = lv2_atom_sequence_next(event)) {
        if (event->body.type == uris_.atomObject || event->body.type == uris_.atomBlank)
            ReadPanelMessage(*reinterpret_cast<const LV2_Atom_Object*>(&event->body));
    }
}

void SynthPlugin::ReadPanelMessage(const LV2_Atom_Object& message) noexcept {
    const LV2_Atom* slider = nullptr;
    const LV2_Atom* controller = nullptr;
    const LV2_Atom* held = nullptr;
    lv2_atom_object_get(&message, uris_.slider, &slider, uris_.controller, &controller, uris_.held,
                        &held, 0);
    const LV2_URID type = message.body.otype;
    if (type == uris_.learn) {
        // Learn offered on what cannot follow a controller ends at once.
        const std::optional<int> id = IntOf(slider, uris_.atomInt);
        const bool armed = id && ControllerBindings::Bindable(static_cast<ControlId>(*id)) &&
                           player_->Send(ArmLearn{static_cast<ControlId>(*id)});
        Note({uris_.learnArmed, armed ? *id : -1, 0, 0});
    } else if (type == uris_.cancelLearn) {
        if (player_->Send(CancelLearn{}))
            Note({uris_.learnArmed, -1, 0, 0});
    } else if (type == uris_.forget) {
        const std::optional<int> source = IntOf(controller, uris_.atomInt);
        if (!source || *source < 0 || *source >= kBindingSourceCount)
            return;
        if (const std::optional<ControlId> id = bindings_.ControlFor(*source))
            static_cast<void>(player_->Send(ForgetController{*id}));
    } else if (type == uris_.restoreBindings) {
        // The plugin listens to every channel, so the keys MIDI holds stay down.
        static_cast<void>(player_->Send(MidiSetup{std::nullopt, ControllerBindings::Defaults()}));
    } else if (type == uris_.ctrl) {
        if (const std::optional<int> down = IntOf(held, uris_.atomInt))
            ctrlWanted_ = *down != 0;
    } else if (type == uris_.describe) {
        keysToSend_ = true;
        bindingsToSend_ = true;
    }
}

// The keys' colours and what MIDI learn did come back from the player; a controller or a
// program change moving a slider shows in the sound alone, as the host keeps the ports.
void SynthPlugin::FollowPlayer() noexcept {
    while (const std::optional<KeyColourChanges> changes = player_->PopKeyColours()) {
        const KeySet before = sounding_;
        sounding_ = (sounding_ & ~changes->Resting) | changes->Sounding;
        keysToSend_ = keysToSend_ || sounding_ != before;
    }
    // The bindings each learn changed, for the slider it took the controller from.
    ControllerBindings learning = bindings_;
    while (const std::optional<PanelAction> action = player_->PopPanelAction()) {
        const auto* learnt = std::get_if<ControllerLearnt>(&*action);
        if (!learnt)
            continue;
        const std::optional<ControlId> taken = learning.ControlFor(learnt->controller);
        static_cast<void>(learning.Bind(learnt->controller, learnt->id));
        Note({uris_.learnt, learnt->id, learnt->controller,
              taken && *taken != learnt->id ? static_cast<int>(*taken) : -1});
    }
    if (player_->Bindings() != bindings_)
        UseBindings(player_->Bindings());
}

void SynthPlugin::UseBindings(const ControllerBindings& bindings) noexcept {
    bindings_ = bindings;
    savedBindings_.Publish(bindings);
    bindingsToSend_ = true;
}

// A panel too slow to take its notes loses the newest.
void SynthPlugin::Note(const PanelNote& note) noexcept {
    if (noteCount_ < notes_.size())
        notes_[noteCount_++] = note;
}

// Notes first, in their order, then the bindings and the keys as they are now. What does
// not fit in the host's buffer waits for the next run.
void SynthPlugin::WriteNotify() noexcept {
    if (!notify_) {
        noteCount_ = 0;
        return;
    }
    // The host gives the space in the size of the atom it leaves there; whether that
    // counts the header is read differently by hosts, so it is taken to.
    const std::uint32_t space = notify_->atom.size;
    if (space < sizeof(LV2_Atom_Sequence))
        return;
    notify_->atom.type = uris_.atomSequence;
    notify_->body.unit = 0;
    notify_->body.pad = 0;
    lv2_atom_sequence_clear(notify_);
    notifyCapacity_ = space - static_cast<std::uint32_t>(sizeof(LV2_Atom));
    std::size_t sent = 0;
    while (sent < noteCount_ && ForgeNote(notes_[sent]))
        ++sent;
    std::copy(notes_.begin() + static_cast<std::ptrdiff_t>(sent),
              notes_.begin() + static_cast<std::ptrdiff_t>(noteCount_), notes_.begin());
    noteCount_ -= sent;
    if (bindingsToSend_ && ForgeBindings())
        bindingsToSend_ = false;
    if (keysToSend_ && ForgeKeys())
        keysToSend_ = false;
}

void SynthPlugin::StartForging(LV2_URID type, LV2_Atom_Forge_Frame& frame) noexcept {
    lv2_atom_forge_set_buffer(&forge_, reinterpret_cast<std::uint8_t*>(forged_.data()),
                              sizeof forged_);
    lv2_atom_forge_frame_time(&forge_, 0);
    lv2_atom_forge_object(&forge_, &frame, 0, type);
}

bool SynthPlugin::FinishForging(LV2_Atom_Forge_Frame& frame) noexcept {
    lv2_atom_forge_pop(&forge_, &frame);
    return lv2_atom_sequence_append_event(
               notify_, notifyCapacity_, reinterpret_cast<const LV2_Atom_Event*>(forged_.data())) !=
           nullptr;
}

bool SynthPlugin::ForgeNote(const PanelNote& note) noexcept {
    LV2_Atom_Forge_Frame frame;
    StartForging(note.type, frame);
    lv2_atom_forge_key(&forge_, uris_.slider);
    lv2_atom_forge_int(&forge_, note.slider);
    if (note.type == uris_.learnt) {
        lv2_atom_forge_key(&forge_, uris_.controller);
        lv2_atom_forge_int(&forge_, note.controller);
        lv2_atom_forge_key(&forge_, uris_.takenFrom);
        lv2_atom_forge_int(&forge_, note.takenFrom);
    }
    return FinishForging(frame);
}

bool SynthPlugin::ForgeBindings() noexcept {
    const std::size_t length = WriteVersionedBindings(bindings_, bindingsText_);
    LV2_Atom_Forge_Frame frame;
    StartForging(uris_.bindings, frame);
    lv2_atom_forge_key(&forge_, uris_.text);
    lv2_atom_forge_string(&forge_, bindingsText_.data(), static_cast<std::uint32_t>(length));
    return FinishForging(frame);
}

bool SynthPlugin::ForgeKeys() noexcept {
    static_assert(kKeyCount <= 63, "the keys' mask is an atom:Long");
    std::int64_t mask = 0;
    for (int key = 0; key < kKeyCount; ++key)
        if (sounding_[key])
            mask |= std::int64_t{1} << key;
    LV2_Atom_Forge_Frame frame;
    StartForging(uris_.keys, frame);
    lv2_atom_forge_key(&forge_, uris_.sounding);
    lv2_atom_forge_long(&forge_, mask);
    return FinishForging(frame);
}

// Read while run() may be running: the bindings as its last change published them.
LV2_State_Status SynthPlugin::Save(LV2_State_Store_Function store, LV2_State_Handle handle) {
    const std::string text = VersionedBindings(savedBindings_.Latest());
    return store(handle, uris_.bindingsState, text.c_str(), text.size() + 1, uris_.atomString,
                 LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
}

// A state without the bindings (a preset of port values alone) leaves them as they are; a
// broken one gives the defaults and says why through the host's log.
LV2_State_Status SynthPlugin::Restore(LV2_State_Retrieve_Function retrieve,
                                      LV2_State_Handle handle) {
    std::size_t size = 0;
    std::uint32_t type = 0;
    std::uint32_t flags = 0;
    const void* value = retrieve(handle, uris_.bindingsState, &size, &type, &flags);
    if (!value)
        return LV2_STATE_SUCCESS;
    ControllerBindings bindings = ControllerBindings::Defaults();
    if (type != uris_.atomString) {
        lv2_log_error(&logger_, "morvane.lv2: the saved bindings are not text; the default "
                                "bindings apply\n");
    } else {
        std::string_view text(static_cast<const char*>(value), size);
        text = text.substr(0, text.find('\0'));
        const Result<ControllerBindings> read =
            ReadVersionedBindings(text, [this](std::string_view line, const std::string& why) {
                lv2_log_warning(&logger_, "morvane.lv2: saved binding \"%s\" skipped: %s\n",
                                Excerpt(line).c_str(), why.c_str());
            });
        if (read)
            bindings = *read;
        else
            lv2_log_error(&logger_, "morvane.lv2: %s; the default bindings apply\n",
                          read.error().message.c_str());
    }
    // Restore never runs beside run(), so the player takes them before the next block.
    static_cast<void>(player_->ListenToMidi(std::nullopt, bindings));
    UseBindings(bindings);
    return LV2_STATE_SUCCESS;
}

} // namespace morvane::lv2
