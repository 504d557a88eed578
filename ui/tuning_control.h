#pragma once

#include <filesystem>
#include <string>

#include "base/result.h"
#include "engine/sound_parameters.h"

// The tuning controls without a toolkit: the up-down control with its own position, its
// label, the reset button, and whether the user has touched them since the last load or
// save. The panel only shows Position() and Label() and passes the clicks on.
namespace morvane {

class TuningControl {
public:
    explicit TuningControl(SoundParameters& s);

    // Each reads Tuning from the settings file or writes it there, and on success clears
    // Changed(). A failure leaves it set, so the change is not taken as saved.
    // A load does not apply the tuning: the caller runs SetTuning.
    Status LoadTuning(const std::filesystem::path& settingsFile);
    Status SaveTuning(const std::filesystem::path& settingsFile);

    // Makes the value the tuning everywhere: Tuning, TuningRatio, the control's position
    // and the label. Changed() is left alone.
    void SetTuning(int value);

    // The up-down control's position, always within 4300..4700 even when Tuning is not.
    int Position() const { return position_; }
    const std::string& Label() const { return label_; }
    // Whether the user changed the tuning since the last load or save, so that it is saved
    // at exit; the sound does not depend on it.
    bool Changed() const { return changed_; }

    // A click on the right (up) or left (down) arrow: the control moves its own position
    // by one step and runs UpDownTuningClick only if the position changed.
    void ClickUp();
    void ClickDown();
    void btnTuningResetClick();

private:
    void Click(int step);
    // Clears changed_ when the file now agrees with Tuning.
    Status Clean(Status done);
    void UpDownTuningClick();

    SoundParameters& state_;
    int position_;
    std::string label_;
    bool changed_ = false;
};

} // namespace morvane
