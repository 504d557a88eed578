#include "engine/input_event.h"

#include "engine/voice_pool.h"

namespace morvane {

namespace {

KeyColourChanges ReleaseUnheld(SynthState& s, const KeySet& keysHeld, bool ctrlHeld) {
    if (s.CtrlHeld && !ctrlHeld)
        s.CtrlHeld = false;
    KeyColourChanges changes;
    // A release moves later voices forward, so the list is read anew at each position.
    for (int position = 0; position < kVoiceCount; ++position) {
        const int voice = s.VoiceOrder[position];
        if (voice == kNoVoice)
            continue;
        const int key = s.Voices[voice].Key;
        if (keysHeld[key])
            continue;
        const KeyColourChanges released = ReleaseNote(s, key);
        changes.Resting |= released.Resting;
        changes.Sounding |= released.Sounding;
    }
    return changes;
}

} // namespace

KeyColourChanges ApplyInput(SynthState& s, const InputEvent& event) {
    switch (event.kind) {
    case InputEvent::Kind::KeyDown:
        return NoteOn(s, event.key);
    case InputEvent::Kind::KeyUp:
        return ReleaseNote(s, event.key);
    case InputEvent::Kind::Ctrl:
        s.CtrlHeld = event.held;
        return {};
    case InputEvent::Kind::ReleaseUnheld:
        return ReleaseUnheld(s, event.keysHeld, event.held);
    case InputEvent::Kind::Sound:
        static_cast<SoundParameters&>(s) = event.sound;
        return {};
    }
    return {};
}

} // namespace morvane
