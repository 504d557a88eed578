#include "ui/preset_group.h"

#include <utility>

namespace morvane {
namespace {

constexpr const char* kSaveCaption = "音色保存";
constexpr const char* kCancelCaption = "キャンセル";
constexpr const char* kPresetGroupCaption = "音色プリセット";
constexpr const char* kChooseSlotCaption = "保存先を選択してください";

} // namespace

PresetGroup::PresetGroup(SoundControls& controls, std::filesystem::path settingsFile)
    : bank_(controls, std::move(settingsFile)) {}

Status PresetGroup::SelectSlot(int slot) {
    if (slot == selectedSlot_) {
        return {};
    }
    selectedSlot_ = slot;
    if (slot == kNothingSelected) {
        return {};
    }
    return RadioPresetClick();
}

Status PresetGroup::LoadSlot(int slot) {
    // In save mode the selection stays empty, so that the slot chosen next, whichever
    // it is, is saved.
    if (!saveMode_)
        selectedSlot_ = slot;
    return bank_.LoadPreset(slot);
}

Status PresetGroup::RadioPresetClick() {
    if (saveMode_) {
        // Save mode ends before the save, so that a failure is shown with the mode off.
        saveMode_ = false;
        return bank_.SavePreset(selectedSlot_);
    }
    return bank_.LoadPreset(selectedSlot_);
}

void PresetGroup::ButtonPresetSaveClick() {
    if (saveMode_) {
        // The selection stays empty: after a cancel no slot is shown selected.
        saveMode_ = false;
        return;
    }
    saveMode_ = true;
    selectedSlot_ = kNothingSelected;
}

const char* PresetGroup::SaveButtonCaption() const {
    return saveMode_ ? kCancelCaption : kSaveCaption;
}

const char* PresetGroup::PresetGroupCaption() const {
    return saveMode_ ? kChooseSlotCaption : kPresetGroupCaption;
}

} // namespace morvane
