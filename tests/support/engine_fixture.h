#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "engine/synth_state.h"

// A synth state as the running program has it after start-up, with the sounds that the
// engine tests and benchmarks play, set field by field as the panel's handlers would.
namespace morvane::fixture {

// An envelope time constant for a slider position: (position + 1) / 100 x 22050 samples.
float EnvelopeTime(int position);

void SetEnvelope(EnvelopeParameters& e, int attack, int decay, int sustain, int release);

// A sawtooth on oscillator 1 through a half-open filter, a slow triangle LFO behind
// the Ctrl gate, no distortion, no echo.
void SetDefaultSound(SoundParameters& s);

// Everything that costs time switched on: both oscillators, chorus, noise, the filter
// envelope at full intensity and high resonance, distortion, a long echo and the LFO.
void SetWorstCaseSound(SoundParameters& s);

// The five keys of the worst-case chord, all voices busy.
inline constexpr int kWorstCaseChord[] = {4, 8, 11, 16, 23};

// A freshly started engine with its tables, playing the default sound.
std::unique_ptr<SynthState> MakeSynth();

void Press(SynthState& s, std::initializer_list<int> keys);

// Renders whole blocks and returns their samples one after another.
std::vector<std::int16_t> Render(SynthState& s, int blocks);

// FNV-1a over samples: a fingerprint of a long render, chained from block to block.
inline constexpr std::uint64_t kFingerprintStart = 14695981039346656037ull;
std::uint64_t Fingerprint(const std::int16_t* samples, std::size_t count,
                          std::uint64_t h = kFingerprintStart);
std::uint64_t Fingerprint(const std::vector<std::int16_t>& samples);

} // namespace morvane::fixture
