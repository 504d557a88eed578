#pragma once

#include <array>
#include <cstddef>
#include <variant>

#include "engine/command.h"
#include "engine/keymap.h"

// What a MIDI message asks of the instrument: the engine's own commands, and the news
// that MIDI learn has bound a controller. The front end that applies them decides how the
// rest goes: the player loads presets it was handed, the offline renderer arms no learn.
namespace morvane {

// MIDI learn has bound the controller to the control: the bindings have changed and
// want saving.
struct ControllerLearnt {
    int controller;
    ControlId id;
    friend bool operator==(const ControllerLearnt&, const ControllerLearnt&) = default;
};

using MidiAction = std::variant<KeyDown, KeyUp, MoveModWheel, BendPitch, SetPlaying, LoadProgram,
                                SetControl, ControllerLearnt>;

// The actions of one message, in the order they are to be applied. It lives on the
// stack of an audio callback, so its capacity is fixed: the most a message yields is
// one key-up per voice key and then the wheels' resets (reset all controllers); a learnt
// controller yields two actions, a held-back key pressed again two.
class MidiActions {
public:
    static constexpr std::size_t kCapacity = kVoiceKeyCount + 2;

    void Add(const MidiAction& action) {
        if (size_ < kCapacity)
            actions_[size_++] = action;
    }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const MidiAction& operator[](std::size_t i) const { return actions_[i]; }
    const MidiAction* begin() const { return actions_.data(); }
    const MidiAction* end() const { return actions_.data() + size_; }

private:
    std::array<MidiAction, kCapacity> actions_{};
    std::size_t size_ = 0;
};

} // namespace morvane
