#pragma once

#include <filesystem>
#include <string>

#include "base/result.h"
#include "engine/parameters.h"

// The eight sound presets of the settings file and the save mode of the preset group.
// The panel shows the selection and the two captions and calls the click handlers; the
// bank loads and saves through SoundControls, so the panel's controls and the synth
// state follow by themselves.
namespace morvane {

inline constexpr int kPresetSlotCount = 8;

// "PRESET0" .. "PRESET7".
std::string PresetSectionName(int slot);

class PresetBank {
public:
    PresetBank(SoundControls& controls, std::filesystem::path settingsFile);

    // Loads the slot into the controls (save false), or writes the controls into the
    // slot and the file back (save true). A load never writes the file.
    Status PresetLoadSave(int slot, bool save);

    // Changes the selection of the preset group, as a mouse click or code does: the
    // click handler runs only when a slot becomes selected, so a click on the selected
    // slot does nothing, and the function keys select nothing first to load again. A
    // failed save has already left save mode: refresh the captions before showing the
    // error.
    Status SelectSlot(int slot);
    int SelectedSlot() const { return selectedSlot_; }

    // Toggles save mode; turning it on selects nothing, so any slot can then be chosen.
    void ButtonPresetSaveClick();

    bool SaveMode() const { return saveMode_; }
    // "音色保存" or, in save mode, "キャンセル".
    const char* SaveButtonCaption() const;
    // "音色プリセット" or, in save mode, "保存先を選択してください".
    const char* PresetGroupCaption() const;

private:
    Status RadioPresetClick();

    SoundControls& controls_;
    std::filesystem::path settingsFile_;
    bool saveMode_ = false;
    int selectedSlot_ = kNothingSelected;
};

} // namespace morvane
