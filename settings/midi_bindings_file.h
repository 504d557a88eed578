#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "base/result.h"
#include "midi/controller_bindings.h"

// The controller bindings' place in the settings file: section MIDI, one line a controller
// whose binding differs from the defaults ("CC20=VCF_CUTOFF"; "CC74=" for a default
// controller that moves nothing). The presets and the tuning beside it are left as they
// are.
namespace morvane {

// Told of each line of the section that is skipped: the line, and why.
using SkippedBindingLine = std::function<void(const std::string& line, const std::string& why)>;

// The bindings the file keeps: the defaults (as at a fresh installation, with no section),
// changed by the section's lines in order. A broken line is skipped and reported; the
// defaults it names stay.
Result<ControllerBindings> LoadControllerBindings(const std::filesystem::path& settingsFile,
                                                  const SkippedBindingLine& skipped = {});

// Writes the lines of the controllers whose binding changed and nothing else, so that the
// user's comments and lines stay, and writes the file back in one piece: a failure part-way
// leaves the old file whole.
Status SaveControllerBindings(const std::filesystem::path& settingsFile,
                              const ControllerBindings& bindings);

} // namespace morvane
