#pragma once

#include "engine/synth_state.h"

// Turns key indices into sounding voices. At most five notes sound; a sixth steals
// the voice released longest ago, or else the one started longest ago. The caller
// holds the AudioLock around every operation.
namespace morvane {

void NoteOn(SynthState& s, int key);
void ReleaseNote(SynthState& s, int key);
// Removes the key's voice at once; the voice renderer calls it when a release has died.
void NoteOff(SynthState& s, int key);

} // namespace morvane
