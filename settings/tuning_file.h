#pragma once

#include <filesystem>
#include <string>

#include "base/result.h"
#include "engine/synth_state.h"

// The master tuning's place in the settings file, and the tuning controls without a
// toolkit: the up-down control with its own position, its label and the reset button.
// The panel only shows Position() and Label() and passes the clicks on.
namespace morvane {

// Reads Tuning from the file (save false) or writes it there (save true), and clears
// TuningDirty. It does not apply the tuning: the caller runs SetTuning. A failure leaves
// Tuning, TuningDirty and the file as they were.
//
// A file's value reads as the tuning control could have set it: beyond 4300..4700 it is
// taken to the nearer end; missing, not an integer, zero or below it is 440.0 Hz.
Status LoadSaveTuning(SynthState& s, const std::filesystem::path& settingsFile, bool save);

class TuningControl {
public:
    explicit TuningControl(SynthState& s);

    // Makes the value the tuning everywhere: Tuning, TuningRatio, the control's position
    // and the label. TuningDirty is left alone.
    void SetTuning(int value);

    // The up-down control's position, always within 4300..4700 even when Tuning is not.
    int Position() const { return position_; }
    const std::string& Label() const { return label_; }

    // A click on the right (up) or left (down) arrow: the control moves its own position
    // by one step and runs UpDownTuningClick only if the position changed.
    void ClickUp();
    void ClickDown();
    void btnTuningResetClick();

private:
    void Click(int step);
    void UpDownTuningClick();

    SynthState& state_;
    int position_;
    std::string label_;
};

} // namespace morvane
