#pragma once

#include <array>
#include <cstddef>
#include <variant>

#include "engine/keymap.h"
#include "engine/parameters.h"

// What a MIDI message asks of the instrument, in the engine's own terms. The front end
// that applies them decides how: the window and the renderer load presets, a plugin
// ignores program changes.
namespace morvane {

struct KeyDown {
    int key; // index into the key table
    friend bool operator==(const KeyDown&, const KeyDown&) = default;
};

struct KeyUp {
    int key;
    friend bool operator==(const KeyUp&, const KeyUp&) = default;
};

// The mod wheel's hold on the LFO gate. The engine opens the gate while the wheel, Ctrl
// or the always-on box holds it; this reports only the wheel's changes.
struct LfoGate {
    bool held;
    friend bool operator==(const LfoGate&, const LfoGate&) = default;
};

// Load preset slot 0..7, as F1..F8 do outside save mode.
struct ChangeProgram {
    int slot;
    friend bool operator==(const ChangeProgram&, const ChangeProgram&) = default;
};

// Move a slider to a position within its range, as a drag would.
struct SetControl {
    ControlId id;
    int position;
    friend bool operator==(const SetControl&, const SetControl&) = default;
};

// MIDI learn has bound the controller to the control: the bindings have changed and
// want saving.
struct ControllerLearnt {
    int controller;
    ControlId id;
    friend bool operator==(const ControllerLearnt&, const ControllerLearnt&) = default;
};

using MidiAction =
    std::variant<KeyDown, KeyUp, LfoGate, ChangeProgram, SetControl, ControllerLearnt>;

// The actions of one message, in the order they are to be applied. It lives on the
// stack of an audio callback, so its capacity is fixed: the most a message yields is
// one key-up per key (all notes off); a learnt controller yields two actions, a held-back
// key pressed again two.
class MidiActions {
public:
    static constexpr std::size_t kCapacity = kKeyCount + 1;

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
