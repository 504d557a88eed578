#pragma once

#include <filesystem>

#include "base/result.h"
#include "engine/sound_parameters.h"

// The master tuning's place in the settings file: key TUNING of section SETUP.
namespace morvane {

// Reads Tuning from the file (save false) or writes it there (save true). It does not
// apply the tuning: the caller runs SetTuning. Whether the user has changed the tuning
// since is the caller's to track. A failure leaves Tuning and the file as they were.
//
// A file's value reads as the tuning control could have set it: beyond 4300..4700 it is
// taken to the nearer end; missing, not an integer, zero or below it is 440.0 Hz.
Status LoadSaveTuning(SoundParameters& s, const std::filesystem::path& settingsFile, bool save);

} // namespace morvane
