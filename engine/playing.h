#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

// How a player plays the instrument, beside the sound itself: what a note's velocity does
// and how far the bend wheel reaches. These belong to the player, not to a preset: loading
// a sound leaves them as they are.
namespace morvane {

inline constexpr int kFullVelocity = 127; // computer keys and the mouse play this
inline constexpr int kLargestPercent = 100;
inline constexpr int kLargestBendRange = 24; // semitones
inline constexpr int kLowestBend = -8192;    // the wheel's 14-bit value less its centre
inline constexpr int kHighestBend = 8191;

struct PlayingParameters {
    std::int32_t VelocityToVolume = kLargestPercent; // A, percent
    std::int32_t VelocityToCutoff = 0;               // C, percent
    std::int32_t BendRange = 2;                      // S, semitones either way
    friend bool operator==(const PlayingParameters&, const PlayingParameters&) = default;
};

enum class PlayingControl : std::uint8_t { VelocityToVolume, VelocityToCutoff, BendRange };
inline constexpr std::array kPlayingControls = {
    PlayingControl::VelocityToVolume, PlayingControl::VelocityToCutoff, PlayingControl::BendRange};

// The name in the settings file's MIDI section and in scores: VELOCITY_AMP,
// VELOCITY_CUTOFF, BEND_RANGE; found in any letter case.
std::string_view PlayingControlKey(PlayingControl control);
std::optional<PlayingControl> FindPlayingControl(std::string_view key);
int LargestPlaying(PlayingControl control);
int ReadPlaying(const PlayingParameters& p, PlayingControl control);

// The control's value clamped to its range: 0..100 percent, 0..24 semitones.
int ClampPlaying(PlayingControl control, int value);
void WritePlaying(PlayingParameters& p, PlayingControl control, int value);

// What a note's velocity 1..127 gives the voice it starts: the factor on its output,
// 1 - (A/100) (127 - v)/127, and the octaves added to its cutoff, 2 (C/100) (v - 127)/127.
// At velocity 127 they are exactly 1 and 0.
struct NoteVelocity {
    float Gain = 1;
    float Octaves = 0;
};
NoteVelocity VelocityOf(const PlayingParameters& p, int velocity);

// The bend b (-8192..8191) as a pitch-table offset for a range of S semitones, R = 120 S
// steps: sign(b) floor((2 |b R| + D) / (2 D)) with D = 8191 above the centre and 8192
// below it, so that both ends of the wheel reach exactly +-R and halves round away from 0.
int BendOffset(int bend, int range);

} // namespace morvane
