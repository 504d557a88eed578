#pragma once

#include <filesystem>

#include "base/result.h"
#include "engine/sound_parameters.h"

// The master tuning's place in the settings file: key TUNING of section SETUP.
namespace morvane {

// Reads Tuning from the file. It does not apply the tuning: the caller runs SetTuning.
// Whether the user has changed the tuning since is the caller's to track. A failure
// leaves Tuning as it was.
//
// A file's value reads as the tuning control could have set it: beyond 4300..4700 it is
// taken to the nearer end; missing, not an integer, zero or below it is 440.0 Hz.
Status LoadTuning(SoundParameters& s, const std::filesystem::path& settingsFile);

// Writes Tuning to the file, keeping everything else in it. A failure leaves the file as
// it was.
Status SaveTuning(const SoundParameters& s, const std::filesystem::path& settingsFile);

} // namespace morvane
