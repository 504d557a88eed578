#include "plugin/bundle_files.h"

#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "base/file_io.h"
#include "engine/startup.h"
#include "plugin/ports.h"
#include "plugin/turtle.h"
#include "settings/presets.h"
#include "settings/tuning_file.h"

namespace morvane::lv2 {

namespace {

namespace fs = std::filesystem;

Status WriteFile(const fs::path& path, const std::string& content) {
    Result<mode_t> mode = ReplacementMode(path);
    if (!mode)
        return mode.error();
    Result<FileReplacement> file = FileReplacement::Begin(path, *mode);
    if (!file)
        return file.error();
    if (Status written = file->Write(content); !written)
        return written;
    return file->Commit();
}

Status MakeFolder(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error)
        return Error{"cannot create " + folder.string() + ": " + error.message()};
    return {};
}

// The folder's name without ".lv2", with anything a URI may not hold percent-encoded.
std::string BundleName(const fs::path& folder) {
    fs::path normal = folder.lexically_normal();
    std::string name = (normal.has_filename() ? normal : normal.parent_path()).filename();
    if (name.size() > 4 && name.ends_with(".lv2"))
        name.resize(name.size() - 4);
    std::string encoded;
    for (unsigned char c : name) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            encoded += static_cast<char>(c);
        } else {
            constexpr const char* kHex = "0123456789ABCDEF";
            encoded += {'%', kHex[c >> 4], kHex[c & 15]};
        }
    }
    return encoded;
}

Status WritePresets(const fs::path& folder, const std::string& manifest,
                    const std::vector<Preset>& presets) {
    for (const Preset& preset : presets)
        if (Status written = WriteFile(folder / preset.file, PresetDescription(preset)); !written)
            return written;
    // The manifest last: until it is there, a host sees no half-made bundle.
    return WriteFile(folder / "manifest.ttl", manifest);
}

} // namespace

Status WritePluginBundle(const fs::path& folder) {
    if (Status made = MakeFolder(folder); !made)
        return made;
    if (Status written = WriteFile(folder / kDescriptionFile, PluginDescription()); !written)
        return written;
    const std::vector<Preset> presets{DefaultPreset()};
    return WritePresets(folder, PluginManifest(presets), presets);
}

Status ExportPresets(const fs::path& settingsFile, const fs::path& folder) {
    std::error_code error;
    if (!fs::is_regular_file(settingsFile, error))
        return Error{"no settings file " + settingsFile.string()};
    auto state = std::make_unique<SynthState>();
    if (Status tuning = LoadSaveTuning(*state, settingsFile, false); !tuning)
        return tuning;
    const int tuningValue = state->Tuning;
    SoundControls controls(*state);
    StartEngine(*state, controls, tuningValue);

    const std::string name = BundleName(folder);
    std::vector<Preset> presets;
    for (int slot = 0; slot < kPresetSlotCount; ++slot) {
        if (Status loaded = PresetBank(controls, settingsFile).PresetLoadSave(slot, false); !loaded)
            return loaded;
        const std::string number = std::to_string(slot + 1);
        presets.push_back({std::string(kPluginUri) + ":preset:" + name + ":" + std::to_string(slot),
                           name + " F" + number, "preset" + std::to_string(slot) + ".ttl",
                           SoundPorts(controls, false, tuningValue)});
    }
    if (Status made = MakeFolder(folder); !made)
        return made;
    return WritePresets(folder, PresetManifest(presets), presets);
}

} // namespace morvane::lv2
