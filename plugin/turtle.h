#pragma once

#include <span>
#include <string>
#include <vector>

#include "engine/parameters.h"

// The plugin's bundle in Turtle: the manifest, the description of the plugin and its
// ports, and presets. Everything is derived from the control table, so a range or a
// default can never drift from the panel's.
namespace morvane::lv2 {

struct PortValue {
    std::string symbol;
    int value;
};

struct Preset {
    std::string uri;
    std::string label;
    std::string file; // inside its bundle
    std::vector<PortValue> ports;
};

// The port values that give the sound the controls hold: the preset controls, the echo
// sliders when withEcho, and the tuning.
std::vector<PortValue> SoundPorts(const SoundControls& controls, bool withEcho, int tuning);

// The settings file's default sound with the start-up echo and 440.0 Hz.
Preset DefaultPreset();

std::string PluginDescription();
// The panel: a UI of the external kind, whose library starts the panel program.
std::string UiDescription();
// The plugin bundle's manifest: the plugin and the presets it ships.
std::string PluginManifest(std::span<const Preset> presets);
// A bundle of presets alone, for a plugin installed elsewhere.
std::string PresetManifest(std::span<const Preset> presets);
std::string PresetDescription(const Preset& preset);

} // namespace morvane::lv2
