#pragma once

#include <string>

#include "engine/parameters.h"
#include "engine/playing.h"
#include "engine/tuning.h"

// The plugin's ports, numbered in this one place: the Turtle description, the plugin
// itself and its tests all take the indices from here.
namespace morvane::lv2 {

inline constexpr const char* kPluginUri = "urn:morvane:synth";
inline constexpr const char* kBinaryName = "morvane.so";
inline constexpr const char* kDescriptionFile = "morvane.ttl";
// The panel: a UI library the host loads, which runs the panel program beside it.
inline constexpr const char* kUiUri = "urn:morvane:synth:panel";
inline constexpr const char* kUiBinaryName = "morvane_ui.so";
inline constexpr const char* kUiDescriptionFile = "morvane_ui.ttl";

inline constexpr int kMidiInPort = 0;
inline constexpr int kOutPort = 1;
inline constexpr int kLatencyPort = 2;
// One control input per sound control in ControlId order, then the tuning, then how
// velocity and the bend wheel play (appended, so that the earlier indices stay).
inline constexpr int kFirstControlPort = 3;
inline constexpr int kTuningPort = kFirstControlPort + kControlCount;
inline constexpr int kFirstPlayingPort = kTuningPort + 1;
inline constexpr int kPlayingPortCount = static_cast<int>(kPlayingControls.size());
// The panel's message ports (see ui_protocol.h): its messages in, the plugin's out.
inline constexpr int kControlInPort = kFirstPlayingPort + kPlayingPortCount;
inline constexpr int kNotifyPort = kControlInPort + 1;
inline constexpr int kPortCount = kNotifyPort + 1;
// The notify buffer a host must give: room for every message of one run, the bindings
// text at its longest among them.
inline constexpr int kNotifyBufferBytes = 8192;

// What the panel may write: a value to a control input, an atom to the MIDI input or the
// message input.
constexpr bool TakesValues(int port) {
    return port >= kFirstControlPort && port < kControlInPort;
}
constexpr bool TakesAtoms(int port) {
    return port == kMidiInPort || port == kControlInPort;
}

// The highest rate a host may run the plugin at: far beyond any host's, and within an int.
inline constexpr int kHighestRate = 1'000'000;

constexpr int ControlPort(ControlId id) {
    return kFirstControlPort + id;
}

// The symbol hosts and scripts find a control port by: the settings-file key in lower
// case ("vcf_cutoff"), or "tuning".
std::string ControlSymbol(ControlId id);
// "velocity_amp", "velocity_cutoff", "bend_range", and what a host shows for them.
std::string PlayingSymbol(PlayingControl control);
const char* PlayingName(PlayingControl control);

// What a host shows for the control and for the items of a radio group or the LFO
// shape pair, in English: hosts mostly draw with fonts that lack the panel's Japanese.
struct ControlText {
    const char* name;
    const char* items[4]; // as many as the control has positions; none for others
};
const ControlText& Text(ControlId id);

} // namespace morvane::lv2
