#include "settings/tuning_file.h"

#include <algorithm>

#include "engine/tuning.h"
#include "settings/ini_file.h"

namespace morvane {
namespace {

constexpr const char* kSetupSection = "SETUP";
constexpr const char* kTuningKey = "TUNING";

// A hand-edited value far outside the control's range would show a nonsense label and
// play out of tune; zero or below would stop the oscillators.
int TuningFromFile(const IniFile& file) {
    const int tuning = file.ReadInteger(kSetupSection, kTuningKey, kDefaultTuning);
    if (tuning <= 0) {
        return kDefaultTuning;
    }
    return std::clamp(tuning, kLowestTuning, kHighestTuning);
}

} // namespace

Status LoadTuning(SoundParameters& s, const std::filesystem::path& settingsFile) {
    Result<IniFile> file = ReadIniFile(settingsFile);
    if (!file) {
        return file.error();
    }
    s.Tuning = TuningFromFile(*file);
    return {};
}

Status SaveTuning(const SoundParameters& s, const std::filesystem::path& settingsFile) {
    Result<IniFile> file = ReadIniFile(settingsFile);
    if (!file) {
        return file.error();
    }
    file->WriteInteger(kSetupSection, kTuningKey, s.Tuning);
    return WriteIniFile(settingsFile, *file);
}

} // namespace morvane
