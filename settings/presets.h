#pragma once

#include <array>
#include <filesystem>
#include <string>

#include "base/result.h"
#include "engine/parameters.h"
#include "engine/startup.h"

// The eight sound presets of the settings file: one section per slot, the panel's
// controls as its keys. The bank loads and saves through SoundControls, so the panel's
// controls and the synth state follow by themselves.
namespace morvane {

// "PRESET0" .. "PRESET7".
std::string PresetSectionName(int slot);

class PresetBank {
public:
    PresetBank(SoundControls& controls, std::filesystem::path settingsFile);

    // Loads the slot into the controls; a load never writes the file.
    Status LoadPreset(int slot);
    // Writes the controls into the slot and the file back.
    Status SavePreset(int slot);

    // Every slot as a load would find it now, for whoever loads presets without the panel.
    Result<std::array<PresetValues, kPresetSlotCount>> ReadAll() const;

private:
    SoundControls& controls_;
    std::filesystem::path settingsFile_;
};

} // namespace morvane
