#pragma once

#include "engine/synth_state.h"

namespace morvane {

// Adds what one sounding voice contributes to one output sample to the accumulator.
// P1 and P2 are the voice's pitch-table indices for its two oscillators, L the LFO
// offset of this sample. When the voice's release has died away the voice is freed
// through NoteOff, nothing is added, and the result is true: the caller must then end
// its voice loop for this sample.
bool RenderVoice(SynthState& s, TSynthVoice& voice, int P1, int P2, int L, float& accumulator);

// One draw of the single noise generator shared by all voices: 0..999.
std::uint32_t DrawNoise(SynthState& s);

} // namespace morvane
