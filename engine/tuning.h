#pragma once

#include <string>

#include "engine/synth_state.h"

// The master tuning as the engine sees it: the pitch of A in tenths of a hertz and the
// factor by which every oscillator's phase increment is multiplied.
namespace morvane {

// The range the tuning control offers, 430.0 to 470.0 Hz.
inline constexpr int kLowestTuning = 4300;
inline constexpr int kHighestTuning = 4700;

// Makes the value the tuning: Tuning and TuningRatio. A value of 0 or below, which
// only a hand-edited settings file can hold, would stop or reverse the oscillators
// and is replaced by kDefaultTuning; any other value is kept as it is.
void ApplyTuning(SoundParameters& s, int tuning);

// The tuning in hertz with one decimal, "440.0" for 4400, with a full stop whatever
// the locale.
std::string TuningLabel(int tuning);

} // namespace morvane
