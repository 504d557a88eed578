#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <span>

#include "base/result.h"
#include "midi/controller_bindings.h"
#include "midi/midi_actions.h"

// Turns MIDI messages into the engine's commands: notes into keys with their velocity,
// the sustain pedal, the mod wheel, the bend wheel and its range (RPN 0), reset all
// controllers, program changes, all-notes-off, and controllers and channel aftertouch
// bound to sliders, with MIDI learn. Live input and MIDI files feed it alike, one whole message at
// a time. It allocates nothing and takes no lock, so an audio callback may feed it; one thread at a
// time may use it.
namespace morvane {

inline constexpr int kMidiChannelCount = 16;

// The key a MIDI note plays: note n plays semitone n - 36, so that note 69 sounds A at
// 440 Hz with the octave switches at MID, the keyboard's semitones 8..40 are notes 44..76,
// and notes outside them move by whole octaves into them.
// Semitones 8..27 take the lower row, 28..40 the upper row: where the rows overlap, the
// lower row plays.
int KeyForNote(int note);

// The voice key a MIDI note plays: its key for notes 44..76, else a keyless key of its own
// that sounds the note's own semitone.
int VoiceKeyForNote(int note);

// A controller value 0..127 as a position in the control's range: value 127 reaches the
// maximum. Rounded to nearest in integers (127 is odd, so no value falls on a half).
int ControllerPosition(ControlId id, int value);

class MidiMapping {
public:
    explicit MidiMapping(ControllerBindings bindings = ControllerBindings::Defaults());

    // Listens to one channel, 1..16, or to all of them (the default).
    Status ListenToChannel(int channel);
    void ListenToAllChannels();
    // The channel listened to, 1..16; every channel when empty.
    std::optional<int> Channel() const;

    // Applies one message: a status byte and its data bytes. Anything that is not a
    // whole channel message of the channel listened to yields nothing.
    MidiActions Apply(std::span<const std::uint8_t> message);

    // MIDI learn: the next learnable controller that moves is bound to the control. The
    // controller's value then moves the control at once.
    Status ArmLearn(ControlId id);
    void CancelLearn() { armed_.reset(); }
    std::optional<ControlId> ArmedControl() const { return armed_; }

    // Lets go of every key MIDI holds, held back by the pedal or not, as CC123 does.
    MidiActions ReleaseEveryKey();
    // Whole channel messages of the channel listened to applied so far.
    std::uint64_t Heard() const { return heard_; }

    const ControllerBindings& Bindings() const { return bindings_; }
    ControllerBindings& Bindings() { return bindings_; }

private:
    void NoteOn(int channel, int note, int velocity, MidiActions& out);
    void NoteOff(int channel, int note, MidiActions& out);
    void ControlChange(int controller, int value, MidiActions& out);
    // A learnable controller (or aftertouch): learn takes it, its slider follows it.
    void MoveBound(int controller, int value, MidiActions& out);
    // CC101, CC100 select a registered parameter, CC6 sets it: only 0, the bend range.
    bool ParameterNumber(int controller, int value, MidiActions& out);
    void Pedal(bool down, MidiActions& out);
    void ReleaseEveryKey(MidiActions& out);
    bool TakeFromHeldBack(int key);

    ControllerBindings bindings_;
    std::optional<int> channel_; // 0..15; all channels when empty
    std::optional<ControlId> armed_;

    // The notes that sound, per channel, and how many of them hold each key: a key goes
    // up with the last of its notes.
    std::array<std::bitset<128>, kMidiChannelCount> notesOn_{};
    std::array<int, kVoiceKeyCount> notesOnKey_{};

    // Keys whose note-offs the pedal holds back, in the order the note-offs came: the
    // order of the releases reorders the voices. A key is in it at most once.
    std::array<int, kVoiceKeyCount> heldBack_{};
    int heldBackCount_ = 0;

    bool pedalDown_ = false;
    std::uint64_t heard_ = 0;
    int wheel_ = 0;
    // The registered parameter selected by CC101 and CC100; 127/127 selects none.
    static constexpr int kNoParameter = 127;
    int parameterMsb_ = kNoParameter;
    int parameterLsb_ = kNoParameter;
};

} // namespace morvane
