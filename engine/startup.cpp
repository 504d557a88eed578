#include "engine/startup.h"

#include "engine/tuning.h"

namespace morvane {

void StartEngine(SynthState& s, SoundControls& controls, int tuning) {
    InitialiseRunningState(s);
    controls.MoveStartUpSliders();
    ApplyTuning(s, tuning);
}

PresetValues DefaultPresetValues() {
    PresetValues values{};
    for (int i = 0; i < kPresetControlCount; ++i)
        values[i] = Describe(static_cast<ControlId>(i)).presetDefault;
    return values;
}

void LoadPreset(SoundControls& controls, const PresetValues& values) {
    for (int i = 0; i < kPresetControlCount; ++i)
        controls.ApplyPresetValue(static_cast<ControlId>(i), values[i]);
}

void LoadPresetSound(SoundParameters& s, const PresetValues& values) {
    for (int i = 0; i < kPresetControlCount; ++i) {
        const auto id = static_cast<ControlId>(i);
        WriteControl(s, id, PresetPosition(id, values[i]));
    }
}

} // namespace morvane
