#pragma once

#include <filesystem>

#include <gtest/gtest.h>

#include "engine/parameters.h"
#include "tests/settings/settings_fixture.h"
#include "ui/preset_group.h"
#include "ui/tuning_control.h"

namespace morvane::fixture {

// The program after its start-up with a settings file at the given place, without a
// window: the tuning loaded and applied, the engine started and preset slot 0 selected.
struct StartedProgram {
    explicit StartedProgram(const std::filesystem::path& settingsFile)
        : controls(sound), tuning(sound), presets(controls, settingsFile) {
        EXPECT_TRUE(tuning.LoadTuning(settingsFile).ok());
        controls.MoveStartUpSliders();
        tuning.SetTuning(sound.Tuning);
        EXPECT_TRUE(presets.SelectSlot(0).ok());
    }

    // A function key: nothing selected, then the slot, so the slot's handler always runs.
    Status PressFunctionKey(int slot) {
        EXPECT_TRUE(presets.SelectSlot(kNothingSelected).ok());
        return presets.SelectSlot(slot);
    }

    SoundParameters sound;
    SoundControls controls;
    TuningControl tuning;
    PresetGroup presets;
};

} // namespace morvane::fixture
