#pragma once

#include <filesystem>

#include "base/result.h"
#include "engine/parameters.h"
#include "settings/presets.h"

// The preset group and its save button without a toolkit: which slot is selected, the
// save mode and the two captions that show it. The panel shows the selection and the
// captions and passes the clicks on; the slots themselves are the bank's.
namespace morvane {

class PresetGroup {
public:
    PresetGroup(SoundControls& controls, std::filesystem::path settingsFile);

    // Changes the selection of the preset group, as a mouse click or code does: the
    // click handler runs only when a slot becomes selected, so a click on the selected
    // slot does nothing, and the function keys select nothing first to load again. A
    // failed save has already left save mode: refresh the captions before showing the
    // error.
    Status SelectSlot(int slot);
    // A program change: loads the slot, even when it is the slot already selected, as
    // the offline renderer does, and selects it. Save mode stays as the user left it: in
    // it nothing is selected and the next slot chosen is saved.
    Status LoadSlot(int slot);
    int SelectedSlot() const { return selectedSlot_; }
    Result<std::array<PresetValues, kPresetSlotCount>> ReadAll() const { return bank_.ReadAll(); }

    // Toggles save mode; turning it on selects nothing, so any slot can then be chosen.
    void ButtonPresetSaveClick();

    bool SaveMode() const { return saveMode_; }
    // "音色保存" or, in save mode, "キャンセル".
    const char* SaveButtonCaption() const;
    // "音色プリセット" or, in save mode, "保存先を選択してください".
    const char* PresetGroupCaption() const;

private:
    Status RadioPresetClick();

    PresetBank bank_;
    bool saveMode_ = false;
    int selectedSlot_ = kNothingSelected;
};

} // namespace morvane
