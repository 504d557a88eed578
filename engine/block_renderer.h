#pragma once

#include <cstdint>

#include "engine/key_colours.h"
#include "engine/synth_state.h"

// Rendering touches nothing but the state it is given and the samples it writes: no
// listener, no lock, no allocation, no system call. A caller on any thread may render
// when it owns the SynthState (parameters and running state) for the whole call, and
// the target; the tables are read-only and may be shared with other players. Events
// (keys, panel moves, tuning, Ctrl) are applied to the same state between two blocks.
namespace morvane {

// What a block reports back besides its samples.
struct BlockResult {
    // The keys whose voices ended during the block, their releases having died away:
    // their buttons go back to rest.
    KeySet EndedKeys;
};

// Renders one block of kBlockSamples signed 16-bit mono samples into target: every
// voice in VoiceOrder, the LFO, distortion with its low-pass, the feedback echo and
// the symmetric clip.
BlockResult RenderBlock(SynthState& s, std::int16_t* target);

// Advances LfoPhase by one output sample and returns the LFO's pitch offset in
// PitchTable steps, truncated toward zero; 0 while neither Ctrl nor ModAlwaysOn opens
// the gate.
int AdvanceLfo(SynthState& s);

// The echo delay in samples for a delay in milliseconds, truncated: 1102 for 50 ms. Times
// beyond the longest echo give the whole line, below zero none.
int EchoLength(int echoTimeMs);

// The master chain for one sample step: distortion with its low-pass (when on), the
// feedback echo, the clip and the conversion to 16 bits. mix is the sum of the voices;
// the echo line advances by one position, wrapping at echoLength.
std::int16_t RenderMasterSample(SynthState& s, float mix, int echoLength);

} // namespace morvane
