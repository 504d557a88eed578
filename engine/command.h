#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <variant>

#include "engine/key_colours.h"
#include "engine/parameters.h"
#include "engine/startup.h"
#include "engine/synth_state.h"

// What any input asks of the instrument, in one vocabulary: the computer keyboard and the
// on-screen keys, the panel, MIDI (live, from a host or from a file), scores and a plugin's
// ports all say it with these commands. Each is a small plain value, so that it crosses to
// the audio thread by copy; Instrument::Apply carries one out between two blocks.
namespace morvane {

// A voice key: a key of the keyboard, or a keyless MIDI note (KeylessNoteKey).
struct KeyDown {
    int key;
    int velocity = kFullVelocity; // 1..127, clamped
    friend bool operator==(const KeyDown&, const KeyDown&) = default;
};

struct KeyUp {
    int key;
    friend bool operator==(const KeyUp&, const KeyUp&) = default;
};

// The LFO gate is open while the Ctrl key, or the mod wheel, holds it (or the always-on
// box is ticked): each holder says only its own changes, the Ctrl key with HoldLfo, the
// wheel with MoveModWheel.
enum class LfoHolder : std::uint8_t { CtrlKey };

struct HoldLfo {
    LfoHolder holder;
    bool held;
    friend bool operator==(const HoldLfo&, const HoldLfo&) = default;
};

// The mod wheel, 0..127: above 0 it holds the LFO gate, and while it alone holds it, its
// value sets the LFO's depth in 127ths.
struct MoveModWheel {
    int value;
    friend bool operator==(const MoveModWheel&, const MoveModWheel&) = default;
};

// The bend wheel less its centre, -8192..8191, clamped; it moves every voice's pitch from
// the next block on.
struct BendPitch {
    int bend;
    friend bool operator==(const BendPitch&, const BendPitch&) = default;
};

// Sets how the instrument is played (velocity's effect, the bend range), clamped.
struct SetPlaying {
    PlayingControl control;
    int value;
    friend bool operator==(const SetPlaying&, const SetPlaying&) = default;
};

// The stuck-key sweep: releases, in VoiceOrder, every voice whose keyboard key is not held, and
// lets go of a Ctrl key that is no longer down.
struct ReleaseUnheld {
    KeySet keysHeld;
    bool ctrlHeld;
    friend bool operator==(const ReleaseUnheld&, const ReleaseUnheld&) = default;
};

// Moves a control to a position, clamped to its range, as a drag would.
struct SetControl {
    ControlId id;
    int position;
    friend bool operator==(const SetControl&, const SetControl&) = default;
};

// A (tenths of a hertz), as the tuning control sets it.
struct SetTuning {
    int tuning;
    friend bool operator==(const SetTuning&, const SetTuning&) = default;
};

// The whole sound at once: a preset loaded on the panel is never heard half done.
struct SetSound {
    SoundParameters sound;
    friend bool operator==(const SetSound&, const SetSound&) = default;
};

// What a program change of the slot loads from now on.
struct StorePreset {
    int slot;
    PresetValues values;
    friend bool operator==(const StorePreset&, const StorePreset&) = default;
};

// Loads preset slot 0..7 as F1..F8 do outside save mode; a slot never stored loads
// nothing (a plugin's host keeps presets of its own).
struct LoadProgram {
    int slot;
    friend bool operator==(const LoadProgram&, const LoadProgram&) = default;
};

using Command =
    std::variant<KeyDown, KeyUp, HoldLfo, ReleaseUnheld, SetControl, SetTuning, SetSound,
                 StorePreset, LoadProgram, MoveModWheel, BendPitch, SetPlaying>;

// What commands play: the synthesizer's state, what holds its LFO gate and the presets
// program changes load. It allocates nothing, so an audio callback may apply commands.
class Instrument {
public:
    // The state must outlive the instrument.
    explicit Instrument(SynthState& synth) : synth_(synth) {}

    // Carries the command out and returns how the key buttons change.
    KeyColourChanges Apply(const Command& command);

    const SynthState& Synth() const { return synth_; }

private:
    KeyColourChanges Sweep(const ReleaseUnheld& sweep);
    void FollowLfoHolders();
    void FollowWheelDepth();

    SynthState& synth_;
    bool ctrlHolds_ = false;
    bool wheelHolds_ = false;
    int wheel_ = 0;
    std::array<PresetValues, kPresetSlotCount> presets_{};
    std::bitset<kPresetSlotCount> presetKnown_;
};

} // namespace morvane
