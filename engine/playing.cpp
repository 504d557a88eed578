#include "engine/playing.h"

#include <algorithm>
#include <cstdlib>

#include "engine/synth_tables.h"

namespace morvane {

namespace {

using X = long double;

constexpr int kCutoffOctavesAtFull = 2; // velocity 1 with C = 100 lowers the cutoff two octaves

} // namespace

int ClampPlaying(PlayingControl control, int value) {
    const int largest = control == PlayingControl::BendRange ? kLargestBendRange : kLargestPercent;
    return std::clamp(value, 0, largest);
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
