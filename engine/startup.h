#pragma once

#include <array>

#include "engine/parameters.h"
#include "engine/synth_state.h"

// The engine's share of the program's start-up, for the window and the offline
// renderer alike.
namespace morvane {

// The settings file keeps eight presets, chosen with F1..F8 or a MIDI program change.
inline constexpr int kPresetSlotCount = 8;

// The 28 values of one preset in key order, indexed by ControlId, as a file holds them.
using PresetValues = std::array<int, kPresetControlCount>;

// Everything up to the preset load, in this order: the running state, the start-up
// slider moves, the tuning (the tables come with the state, built once per process).
// The window builds its key buttons after this and then loads a preset.
void StartEngine(SynthState& s, SoundControls& controls, int tuning);

// The preset of a fresh installation: every key at its default.
PresetValues DefaultPresetValues();

// Applies the values in key order, the order in which the engine parameters change.
void LoadPreset(SoundControls& controls, const PresetValues& values);

// What LoadPreset does to the sound, without the panel: for an audio callback, which must
// not touch the controls' labels.
void LoadPresetSound(SoundParameters& s, const PresetValues& values);

} // namespace morvane
