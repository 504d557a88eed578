#include "plugin/ports.h"

#include <array>

#include "base/ascii.h"

namespace morvane::lv2 {

namespace {

constexpr ControlText kWave{"", {"Off", "Sawtooth", "Square", "Triangle"}};
constexpr ControlText kOctave{"", {"High", "Mid", "Low"}};

constexpr ControlText Named(const char* name, const ControlText& items = {}) {
    ControlText text = items;
    text.name = name;
    return text;
}

const std::array<ControlText, kControlCount> kTexts = {{
    Named("Wave 1", kWave),
    Named("Wave 2", kWave),
    Named("Octave 1", kOctave),
    Named("Octave 2", kOctave),
    Named("Volume 1"),
    Named("Volume 2"),
    Named("Pulse width 1"),
    Named("Pulse width 2"),
    Named("Noise"),
    Named("Chorus"),
    Named("LFO depth"),
    Named("LFO rate"),
    Named("LFO shape", {"", {"Triangle", "Square"}}),
    Named("LFO always on"),
    Named("Attack"),
    Named("Decay"),
    Named("Sustain"),
    Named("Release"),
    Named("Filter attack"),
    Named("Filter decay"),
    Named("Filter sustain"),
    Named("Filter release"),
    Named("Filter envelope"),
    Named("Cutoff"),
    Named("Filter intensity"),
    Named("Resonance"),
    Named("Distortion"),
    Named("Distortion volume"),
    Named("Echo depth"),
    Named("Echo time"),
}};

} // namespace

std::string ControlSymbol(ControlId id) {
    return AsciiLowered(Describe(id).key);
}

std::string PlayingSymbol(PlayingControl control) {
    return AsciiLowered(PlayingControlKey(control));
}

const char* PlayingName(PlayingControl control) {
    switch (control) {
    case PlayingControl::VelocityToVolume:
        return "Velocity to volume (%)";
    case PlayingControl::VelocityToCutoff:
        return "Velocity to cutoff (%)";
    case PlayingControl::BendRange:
        break;
    }
    return "Bend range (semitones)";
}

const ControlText& Text(ControlId id) {
    return kTexts[id];
}

} // namespace morvane::lv2
