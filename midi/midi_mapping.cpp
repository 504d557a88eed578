#include "midi/midi_mapping.h"

#include <algorithm>
#include <cstdint>

#include "engine/startup.h"
#include "midi/midi_message.h"

namespace morvane {

namespace {

constexpr int kLowestNote = 44;  // semitone 8, the lowest key
constexpr int kHighestNote = 76; // semitone 40, the highest key
constexpr int kOctave = 12;
constexpr int kLowestSemitone = 8;
constexpr int kHighestLowerRowSemitone = 27;

constexpr int kModWheel = 1;
constexpr int kDataEntry = 6;
constexpr int kDataEntryFine = 38;
constexpr int kParameterNumberLsb = 100;
constexpr int kParameterNumberMsb = 101;
constexpr int kResetAllControllers = 121;
constexpr int kBendRangeParameter = 0; // RPN 0/0
constexpr int kBendCentre = 8192;
constexpr int kDataBits = 7;
constexpr int kSustainPedal = 64;
constexpr int kAllSoundOff = 120;
constexpr int kAllNotesOff = 123;
constexpr int kPedalDownFrom = 64;
constexpr int kLargestValue = 127;

bool IsDataByte(std::uint8_t byte) {
    return byte < 0x80;
}

} // namespace

int KeyForNote(int note) {
    while (note < kLowestNote)
        note += kOctave;
    while (note > kHighestNote)
        note -= kOctave;
    const int semitone = note - kNoteOfSemitoneZero;
    return semitone <= kHighestLowerRowSemitone ? semitone - kLowestSemitone : semitone;
}

int VoiceKeyForNote(int note) {
    return note >= kLowestNote && note <= kHighestNote ? KeyForNote(note) : KeylessNoteKey(note);
}

int ControllerPosition(ControlId id, int value) {
    const ControlDescription& control = Describe(id);
    const std::int64_t travel = static_cast<std::int64_t>(control.maximum) - control.minimum;
    // travel * value / 127 rounded halves up: floor((2 * travel * value + 127) / 254).
    const std::int64_t steps = (2 * travel * value + kLargestValue) / (2 * kLargestValue);
    return control.minimum + static_cast<int>(steps);
}

MidiMapping::MidiMapping(ControllerBindings bindings) : bindings_(bindings) {}

Status MidiMapping::ListenToChannel(int channel) {
    if (channel < 1 || channel > kMidiChannelCount)
        return Error{"MIDI channel " + std::to_string(channel) + " is not 1..16"};
    channel_ = channel - 1;
    return {};
}

void MidiMapping::ListenToAllChannels() {
    channel_.reset();
}

std::optional<int> MidiMapping::Channel() const {
    if (!channel_)
        return std::nullopt;
    return *channel_ + 1;
}

MidiActions MidiMapping::ReleaseEveryKey() {
    MidiActions out;
    ReleaseEveryKey(out);
    return out;
}

Status MidiMapping::ArmLearn(ControlId id) {
    if (!ControllerBindings::Bindable(id))
        return Error{NotASlider(id)};
    armed_ = id;
    return {};
}

MidiActions MidiMapping::Apply(std::span<const std::uint8_t> message) {
    MidiActions out;
    if (message.empty() || !IsChannelStatus(message[0]))
        return out;
    const std::uint8_t status = message[0];
    if (message.size() != 1u + DataByteCount(status) ||
        !std::ranges::all_of(message.subspan(1), IsDataByte))
        return out;
    const int channel = status & 0x0F;
    if (channel_ && *channel_ != channel)
        return out;
    ++heard_;

    const int first = message[1];
    switch (status & 0xF0) {
    case kNoteOn:
        // A note-on of velocity 0 is the running-status way of writing a note-off.
        if (message[2] > 0)
            NoteOn(channel, first, message[2], out);
        else
            NoteOff(channel, first, out);
        break;
    case kNoteOff:
        NoteOff(channel, first, out);
        break;
    case kControlChange:
        ControlChange(first, message[2], out);
        break;
    case kProgramChange:
        if (first < kPresetSlotCount)
            out.Add(LoadProgram{first});
        break;
    case kChannelPressure:
        MoveBound(kAftertouch, first, out);
        break;
    case kPitchBend:
        out.Add(BendPitch{((message[2] << kDataBits) | first) - kBendCentre});
        break;
    default:
        break;
    }
    return out;
}

void MidiMapping::NoteOn(int channel, int note, int velocity, MidiActions& out) {
    if (notesOn_[channel].test(note))
        return;
    notesOn_[channel].set(note);
    const int key = VoiceKeyForNote(note);
    if (notesOnKey_[key]++ > 0)
        return;
    // A held-back key still sounds, and the engine ignores a press of a sounding key;
    // letting it go first makes the press start the note afresh.
    if (TakeFromHeldBack(key))
        out.Add(KeyUp{key});
    out.Add(KeyDown{key, velocity});
}

void MidiMapping::NoteOff(int channel, int note, MidiActions& out) {
    if (!notesOn_[channel].test(note))
        return;
    notesOn_[channel].reset(note);
    const int key = VoiceKeyForNote(note);
    if (--notesOnKey_[key] > 0)
        return;
    if (pedalDown_)
        heldBack_[heldBackCount_++] = key;
    else
        out.Add(KeyUp{key});
}

void MidiMapping::ControlChange(int controller, int value, MidiActions& out) {
    if (ParameterNumber(controller, value, out))
        return;
    switch (controller) {
    case kModWheel:
        if (value != wheel_) {
            wheel_ = value;
            out.Add(MoveModWheel{wheel_});
        }
        return;
    case kSustainPedal:
        Pedal(value >= kPedalDownFrom, out);
        return;
    case kAllSoundOff:
    case kAllNotesOff:
        ReleaseEveryKey(out);
        return;
    case kResetAllControllers:
        // The bend to its centre, the pedal up, the wheel to 0; bindings and the range stay.
        out.Add(BendPitch{0});
        Pedal(false, out);
        if (wheel_ != 0) {
            wheel_ = 0;
            out.Add(MoveModWheel{0});
        }
        return;
    default:
        break;
    }
    MoveBound(controller, value, out);
}

void MidiMapping::MoveBound(int controller, int value, MidiActions& out) {
    if (armed_ && ControllerBindings::Learnable(controller)) {
        if (bindings_.Bind(controller, *armed_))
            out.Add(ControllerLearnt{controller, *armed_});
        armed_.reset();
    }
    if (const std::optional<ControlId> id = bindings_.ControlFor(controller))
        out.Add(SetControl{*id, ControllerPosition(*id, value)});
}

bool MidiMapping::ParameterNumber(int controller, int value, MidiActions& out) {
    switch (controller) {
    case kParameterNumberMsb:
        parameterMsb_ = value;
        return true;
    case kParameterNumberLsb:
        parameterLsb_ = value;
        return true;
    case kDataEntry:
        if (parameterMsb_ == kBendRangeParameter && parameterLsb_ == kBendRangeParameter)
            out.Add(SetPlaying{PlayingControl::BendRange, std::min(value, kLargestBendRange)});
        return true;
    case kDataEntryFine: // cents of the range: the range is whole semitones
        return true;
    default:
        return false;
    }
}

void MidiMapping::Pedal(bool down, MidiActions& out) {
    pedalDown_ = down;
    if (down)
        return;
    for (int i = 0; i < heldBackCount_; ++i)
        out.Add(KeyUp{heldBack_[i]});
    heldBackCount_ = 0;
}

void MidiMapping::ReleaseEveryKey(MidiActions& out) {
    std::array<bool, kVoiceKeyCount> held{};
    for (int i = 0; i < heldBackCount_; ++i)
        held[heldBack_[i]] = true;
    for (int key = 0; key < kVoiceKeyCount; ++key) {
        if (held[key] || notesOnKey_[key] > 0)
            out.Add(KeyUp{key});
    }
    heldBackCount_ = 0;
    notesOnKey_.fill(0);
    for (std::bitset<128>& notes : notesOn_)
        notes.reset();
}

bool MidiMapping::TakeFromHeldBack(int key) {
    int* const end = heldBack_.data() + heldBackCount_;
    int* const found = std::find(heldBack_.data(), end, key);
    if (found == end)
        return false;
    std::copy(found + 1, end, found);
    --heldBackCount_;
    return true;
}

} // namespace morvane
