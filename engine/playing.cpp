#include "engine/playing.h"

#include <algorithm>
#include <cstdlib>

#include "engine/synth_tables.h"

namespace morvane {

namespace {

using X = long double;

constexpr int kCutoffOctavesAtFull = 2; // velocity 1 with C = 100 lowers the cutoff two octaves

} // namespace

std::string_view PlayingControlKey(PlayingControl control) {
    switch (control) {
    case PlayingControl::VelocityToVolume:
        return "VELOCITY_AMP";
    case PlayingControl::VelocityToCutoff:
        return "VELOCITY_CUTOFF";
    case PlayingControl::BendRange:
        break;
    }
    return "BEND_RANGE";
}

std::optional<PlayingControl> FindPlayingControl(std::string_view key) {
    auto same = [](char a, char b) {
        return (a >= 'a' && a <= 'z' ? static_cast<char>(a - 'a' + 'A') : a) == b;
    };
    for (PlayingControl control : kPlayingControls) {
        const std::string_view name = PlayingControlKey(control);
        if (std::ranges::equal(key, name, same))
            return control;
    }
    return std::nullopt;
}

int LargestPlaying(PlayingControl control) {
    return control == PlayingControl::BendRange ? kLargestBendRange : kLargestPercent;
}

int ReadPlaying(const PlayingParameters& p, PlayingControl control) {
    switch (control) {
    case PlayingControl::VelocityToVolume:
        return p.VelocityToVolume;
    case PlayingControl::VelocityToCutoff:
        return p.VelocityToCutoff;
    case PlayingControl::BendRange:
        break;
    }
    return p.BendRange;
}

int ClampPlaying(PlayingControl control, int value) {
    return std::clamp(value, 0, LargestPlaying(control));
}

void WritePlaying(PlayingParameters& p, PlayingControl control, int value) {
    value = ClampPlaying(control, value);
    switch (control) {
    case PlayingControl::VelocityToVolume:
        p.VelocityToVolume = value;
        break;
    case PlayingControl::VelocityToCutoff:
        p.VelocityToCutoff = value;
        break;
    case PlayingControl::BendRange:
        p.BendRange = value;
        break;
    }
}

NoteVelocity VelocityOf(const PlayingParameters& p, int velocity) {
    NoteVelocity v;
    v.Gain = 1 - ((X(p.VelocityToVolume) / kLargestPercent) *
                  (X(kFullVelocity - velocity) / kFullVelocity));
    v.Octaves = ((X(p.VelocityToCutoff) / kLargestPercent) * kCutoffOctavesAtFull) *
                (X(velocity - kFullVelocity) / kFullVelocity);
    return v;
}

int BendOffset(int bend, int range) {
    const int steps = range * kPitchStepsPerSemitone;
    const int divisor = bend > 0 ? kHighestBend : -kLowestBend;
    const int magnitude = (2 * std::abs(bend * steps) + divisor) / (2 * divisor);
    return bend < 0 ? -magnitude : magnitude;
}

} // namespace morvane
