#pragma once

#include "engine/key_colours.h"
#include "engine/playing.h"
#include "engine/running_state.h"

// Turns voice keys (the keyboard's keys and the keyless MIDI notes) into sounding voices.
// At most five notes sound; a sixth steals the voice released longest ago, or else the
// one started longest ago. Each operation returns how the key buttons' faces change and
// calls nothing outside the engine; the one thread that renders the state calls them,
// between blocks.
namespace morvane {

// A voice started or restarted takes the note's velocity; a key that sounds unreleased
// changes nothing.
KeyColourChanges NoteOn(RunningState& s, int key, NoteVelocity velocity = {});
KeyColourChanges ReleaseNote(RunningState& s, int key);
// Removes the key's voice at once; the voice renderer calls it when a release has died.
KeyColourChanges NoteOff(RunningState& s, int key);

} // namespace morvane
