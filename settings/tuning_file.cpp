#include "settings/tuning_file.h"

#include <algorithm>
#include <cstdint>

#include "engine/tuning.h"
#include "settings/ini_file.h"

namespace morvane {
namespace {

constexpr const char* kSetupSection = "SETUP";
constexpr const char* kTuningKey = "TUNING";
constexpr int kTuningStep = 2; // 0.2 Hz per arrow click

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

Status LoadSaveTuning(SynthState& s, const std::filesystem::path& settingsFile, bool save) {
    Result<IniFile> file = ReadIniFile(settingsFile);
    if (!file) {
        return file.error();
    }
    if (save) {
        file->WriteInteger(kSetupSection, kTuningKey, s.Tuning);
        if (Status written = WriteIniFile(settingsFile, *file); !written) {
            return written;
        }
    } else {
        s.Tuning = TuningFromFile(*file);
    }
    s.TuningDirty = false;
    return {};
}

TuningControl::TuningControl(SynthState& s)
    : state_(s), position_(kDefaultTuning), label_(TuningLabel(kDefaultTuning)) {}

void TuningControl::SetTuning(int value) {
    ApplyTuning(state_, value);
    // The control holds a 16-bit position and keeps it within its range, while Tuning
    // keeps the value as set; the next arrow click starts from the control's position.
    const auto position16 = static_cast<std::int16_t>(state_.Tuning);
    position_ = std::clamp<int>(position16, kLowestTuning, kHighestTuning);
    label_ = TuningLabel(state_.Tuning);
}

void TuningControl::ClickUp() {
    Click(kTuningStep);
}

void TuningControl::ClickDown() {
    Click(-kTuningStep);
}

void TuningControl::Click(int step) {
    const int moved = std::clamp(position_ + step, kLowestTuning, kHighestTuning);
    if (moved == position_) {
        return;
    }
    position_ = moved;
    UpDownTuningClick();
}

void TuningControl::UpDownTuningClick() {
    state_.TuningDirty = true;
    SetTuning(position_);
}

void TuningControl::btnTuningResetClick() {
    state_.TuningDirty = true;
    SetTuning(kDefaultTuning);
}

} // namespace morvane
