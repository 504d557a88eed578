#pragma once

#include <memory>

#include "engine/playing.h"
#include "engine/running_state.h"
#include "engine/sound_parameters.h"
#include "engine/synth_tables.h"

namespace morvane {

inline constexpr int kBlockSamples = 441; // 20 ms

// One player of the instrument: its sound parameters, its running state, how it is played
// and the shared tables, under the names the rest of the program uses for them. A player (the
// window's, the plugin's) or the offline renderer owns exactly one. Fields not set at start-up are
// 0, those of playing their defaults.
struct SynthState : SoundParameters, RunningState, PlayingParameters {
    std::shared_ptr<const SynthTables> Tables = SharedSynthTables();
};

// The running part of start-up: gate flags off (Ctrl and the LFO's own switches),
// voices zeroed, VoiceOrder empty, LFO phase 0, echo line cleared.
void InitialiseRunningState(SynthState& s);

} // namespace morvane
