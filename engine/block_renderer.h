#pragma once

#include <cstdint>

#include "engine/synth_state.h"

namespace morvane {

// Renders one block of kBlockSamples signed 16-bit mono samples into target: every
// voice in VoiceOrder, the LFO, distortion with its low-pass, the feedback echo and
// the symmetric clip. The caller holds the AudioLock for the whole call.
void RenderBlock(SynthState& s, std::int16_t* target);

} // namespace morvane
