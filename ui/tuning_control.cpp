#include "ui/tuning_control.h"

#include <algorithm>
#include <cstdint>

#include "engine/tuning.h"
#include "settings/tuning_file.h"

namespace morvane {
namespace {

constexpr int kTuningStep = 2; // 0.2 Hz per arrow click

} // namespace

TuningControl::TuningControl(SoundParameters& s)
    : state_(s), position_(kDefaultTuning), label_(TuningLabel(kDefaultTuning)) {}

Status TuningControl::LoadTuning(const std::filesystem::path& settingsFile) {
    return Clean(morvane::LoadTuning(state_, settingsFile));
}

Status TuningControl::SaveTuning(const std::filesystem::path& settingsFile) {
    return Clean(morvane::SaveTuning(state_, settingsFile));
}

Status TuningControl::Clean(Status done) {
    if (done) {
        changed_ = false;
    }
    return done;
}

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
    changed_ = true;
    SetTuning(position_);
}

void TuningControl::btnTuningResetClick() {
    changed_ = true;
    SetTuning(kDefaultTuning);
}

} // namespace morvane
