#include "tools/render_start.h"

#include <memory>

#include "engine/parameters.h"
#include "engine/synth_state.h"
#include "settings/midi_settings_file.h"
#include "settings/presets.h"
#include "settings/tuning_file.h"

namespace morvane {

RenderStart FreshStart() {
    auto state = std::make_unique<SynthState>(); // too large for the stack
    SoundControls controls(*state);
    StartEngine(*state, controls, kDefaultTuning);
    LoadPreset(controls, DefaultPresetValues());
    RenderStart start{*state, {}};
    start.presets.fill(DefaultPresetValues());
    return start;
}

Result<RenderStart> StartFrom(const std::filesystem::path& settingsFile, int presetSlot) {
    auto state = std::make_unique<SynthState>();
    SoundControls controls(*state);
    // The program reads the tuning after building the pitch table; reading it first
    // changes nothing, since only StartEngine applies it.
    if (Status tuning = LoadTuning(*state, settingsFile); !tuning)
        return tuning.error();
    StartEngine(*state, controls, state->Tuning);
    PresetBank bank(controls, settingsFile);
    if (Status loaded = bank.LoadPreset(presetSlot); !loaded)
        return loaded.error();
    Result<std::array<PresetValues, kPresetSlotCount>> presets = bank.ReadAll();
    if (!presets)
        return presets.error();
    Result<MidiSettings> midi = LoadMidiSettings(settingsFile);
    if (!midi)
        return midi.error();
    return RenderStart{*state, *presets, midi->playing};
}

} // namespace morvane
