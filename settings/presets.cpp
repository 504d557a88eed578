#include "settings/presets.h"

#include <utility>

#include "engine/startup.h"
#include "settings/ini_file.h"

namespace morvane {
namespace {

// The file stores the LFO shape as 0 for the triangle and 1 for anything else.
constexpr int kModTypeTriangle = 0;
constexpr int kModTypeSquare = 1;

// The value the file stores for a control's position.
void WriteControl(IniFile& file, const std::string& section, ControlId id, int position) {
    const ControlDescription& control = Describe(id);
    switch (control.kind) {
    case ControlKind::CheckBox:
        file.WriteBool(section, control.key, position != 0);
        break;
    case ControlKind::ModType:
        file.WriteInteger(section, control.key,
                          position == kModTypeTriangle ? kModTypeTriangle : kModTypeSquare);
        break;
    case ControlKind::RadioGroup:
    case ControlKind::Slider:
        file.WriteInteger(section, control.key, position);
        break;
    }
}

PresetValues ReadPreset(const IniFile& file, const std::string& section) {
    PresetValues values{};
    for (int i = 0; i < kPresetControlCount; ++i) {
        const ControlDescription& control = Describe(static_cast<ControlId>(i));
        // Booleans and the LFO shape read as integers too; the controls take any
        // non-zero value as checked or square.
        values[i] = file.ReadInteger(section, control.key, control.presetDefault);
    }
    return values;
}

} // namespace

std::string PresetSectionName(int slot) {
    return "PRESET" + std::to_string(slot);
}

PresetBank::PresetBank(SoundControls& controls, std::filesystem::path settingsFile)
    : controls_(controls), settingsFile_(std::move(settingsFile)) {}

Status PresetBank::LoadPreset(int slot) {
    Result<IniFile> file = ReadIniFile(settingsFile_);
    if (!file) {
        return file.error();
    }
    morvane::LoadPreset(controls_, ReadPreset(*file, PresetSectionName(slot)));
    return {};
}

Status PresetBank::SavePreset(int slot) {
    Result<IniFile> file = ReadIniFile(settingsFile_);
    if (!file) {
        return file.error();
    }
    const std::string section = PresetSectionName(slot);
    for (int i = 0; i < kPresetControlCount; ++i) {
        const auto id = static_cast<ControlId>(i);
        WriteControl(*file, section, id, controls_.Position(id));
    }
    return WriteIniFile(settingsFile_, *file);
}

Result<std::array<PresetValues, kPresetSlotCount>> PresetBank::ReadAll() const {
    Result<IniFile> file = ReadIniFile(settingsFile_);
    if (!file) {
        return file.error();
    }
    std::array<PresetValues, kPresetSlotCount> presets{};
    for (int slot = 0; slot < kPresetSlotCount; ++slot)
        presets[slot] = ReadPreset(*file, PresetSectionName(slot));
    return presets;
}

} // namespace morvane
