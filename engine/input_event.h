#pragma once

#include <cstdint>

#include "engine/key_colours.h"
#include "engine/synth_state.h"

namespace morvane {

// One input to the instrument as the user interface hands it to whoever renders: a key,
// the Ctrl gate, the stuck-key sweep or the whole sound after a change of the panel, a
// preset or the tuning. A plain value, so that it can cross to the audio thread by copy;
// applied between two blocks it does what the handler that made it used to do to the
// state directly.
struct InputEvent {
    enum class Kind : std::uint8_t { KeyDown, KeyUp, Ctrl, ReleaseUnheld, Sound };

    Kind kind = Kind::Ctrl;
    std::int32_t key = 0; // KeyDown, KeyUp
    // Ctrl: the gate's new state. ReleaseUnheld: whether Ctrl is still down.
    bool held = false;
    KeySet keysHeld; // ReleaseUnheld: the keys still held, by keyboard or mouse
    SoundParameters sound;

    static InputEvent KeyDown(int key) { return Of(Kind::KeyDown, key); }
    static InputEvent KeyUp(int key) { return Of(Kind::KeyUp, key); }
    static InputEvent Ctrl(bool held) {
        InputEvent event = Of(Kind::Ctrl);
        event.held = held;
        return event;
    }
    static InputEvent ReleaseUnheld(const KeySet& keysHeld, bool ctrlHeld) {
        InputEvent event = Of(Kind::ReleaseUnheld);
        event.keysHeld = keysHeld;
        event.held = ctrlHeld;
        return event;
    }
    static InputEvent Sound(const SoundParameters& sound) {
        InputEvent event = Of(Kind::Sound);
        event.sound = sound;
        return event;
    }

private:
    static InputEvent Of(Kind kind, int key = 0) {
        InputEvent event;
        event.kind = kind;
        event.key = key;
        return event;
    }
};

// Applies the event to the state and returns how the key buttons change. The sweep
// releases, in VoiceOrder, every voice whose key is not held, and lets go of a Ctrl
// that is no longer down.
KeyColourChanges ApplyInput(SynthState& s, const InputEvent& event);

} // namespace morvane
