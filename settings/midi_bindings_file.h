#pragma once

#include <filesystem>

#include "base/result.h"
#include "midi/controller_bindings.h"

// The controller bindings' place in the settings file: section MIDI, one line a bound
// controller ("CC74=VCF_CUTOFF"). The presets and the tuning beside it are left as they are.
namespace morvane {

// The bindings the file keeps. A file without the section, as at a fresh installation,
// has the default bindings; a section without lines has none, since the user may have
// let go of every controller. A broken line of the section is skipped.
Result<ControllerBindings> LoadControllerBindings(const std::filesystem::path& settingsFile);

// Replaces the section's lines with the bindings and writes the file back in one piece,
// so a failure part-way leaves the old file whole.
Status SaveControllerBindings(const std::filesystem::path& settingsFile,
                              const ControllerBindings& bindings);

} // namespace morvane
