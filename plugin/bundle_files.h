#pragma once

#include <filesystem>

#include "base/result.h"

// The Turtle files of the plugin's bundle and of preset bundles, written into a folder.
// Each file takes its name only once complete, so a failure leaves no half-written
// description for a host to trip over.
namespace morvane::lv2 {

// The plugin bundle's manifest, plugin description and default preset; the shared
// library is the build's to put beside them.
Status WritePluginBundle(const std::filesystem::path& folder);

// The settings file's eight presets, each with the file's tuning, as a preset bundle in
// folder (created when missing). The preset URIs and labels carry the folder's name, so
// bundles exported from different files can be installed side by side.
Status ExportPresets(const std::filesystem::path& settingsFile,
                     const std::filesystem::path& folder);

} // namespace morvane::lv2
