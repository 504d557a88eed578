#pragma once

#include <array>
#include <filesystem>

#include "base/result.h"
#include "engine/playing.h"
#include "engine/sound_parameters.h"
#include "engine/startup.h"

// The synthesizer as the program stands right after its start-up, without window or audio
// device: the sound it plays first, the presets its program changes load, and how the
// settings file's MIDI section has velocity and the bend wheel play.
namespace morvane {

struct RenderStart {
    SoundParameters sound;
    std::array<PresetValues, kPresetSlotCount> presets;
    PlayingParameters playing{};
};

// A fresh installation's: tuning 440.0 Hz, every preset key at its default.
RenderStart FreshStart();

// With the tuning and the preset slot of a settings file, loaded exactly as the program
// loads them, the file's eight presets as a load finds them now, and its playing values.
Result<RenderStart> StartFrom(const std::filesystem::path& settingsFile, int presetSlot);

} // namespace morvane
