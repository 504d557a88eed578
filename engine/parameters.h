#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "engine/synth_state.h"

// The sound controls of the front panel, without a toolkit: one table that says, for
// every control, its kind, range and start position, the settings-file key that
// stores it, what its handler writes into the sound parameters and its value-label text.
// The Qt panel, the preset bank and the offline renderer are views of this one model;
// none of them converts a value itself.
namespace morvane {

enum class ControlKind {
    RadioGroup, // selected index -1 (nothing) .. items - 1
    Slider,     // integer position within minimum..maximum
    CheckBox,   // 0 unchecked, 1 checked
    ModType,    // the LFO shape radio pair: -1 none checked, 0 triangle, 1 square
};

// The 28 preset controls in the order the settings file writes and reads them, then
// the two echo sliders, which are in no preset.
enum ControlId : int {
    Wave1Type,
    Wave2Type,
    Wave1Octave,
    Wave2Octave,
    Wave1Vol,
    Wave2Vol,
    Wave1Width,
    Wave2Width,
    NoiseVol,
    Wave2Detune,
    ModDepth,
    ModFreq,
    ModType,
    ModOn,
    EnvAttack,
    EnvDecay,
    EnvSustain,
    EnvRelease,
    EnvVcfAttack,
    EnvVcfDecay,
    EnvVcfSustain,
    EnvVcfRelease,
    UseVcfEnvelope,
    VcfCutoff,
    VcfIntensity,
    VcfResonance,
    DistortionLevel,
    DistortionVolume,
    EchoDepth,
    EchoTime,
};
inline constexpr int kPresetControlCount = 28;
inline constexpr int kControlCount = 30;

// Radio groups and the LFO shape pair use this position while no item is selected.
inline constexpr int kNothingSelected = -1;

struct ControlDescription {
    const char* key;     // settings-file key ("VCF_CUTOFF"); the echo sliders use the
                         // offline renderer's names ("ECHO_DEPTH", "ECHO_TIME")
    const char* control; // panel control name ("ScrollBarCutOff"); the LFO shape pair
                         // is "RadioButtonModType" with 0 (triangle) or 1 (square) appended
    ControlKind kind;
    int minimum; // the values a user can choose: radio items 0 .. count - 1, boxes 0..1
    int maximum;
    int startPosition; // as the window is built, before start-up moves it
    int presetDefault; // the value a preset takes when the file lacks the key; for the
                       // echo sliders, which are in no preset, their start-up value
    bool hasLabel;     // whether a value label shows the position
};

const ControlDescription& Describe(ControlId id);

// The control whose key is the given name, in any letter case.
std::optional<ControlId> FindControl(std::string_view key);

// What the control's handler writes into the sound for a position within the control's
// range (for a radio group, an item): the sound alone, without a panel or its labels, so
// that an audio callback may move a control.
void WriteControl(SoundParameters& s, ControlId id, int position);

// The position a preset's stored value puts the control in: a radio group's negative value
// means the key's default (a group left with nothing selected would store octave 3 or
// waveform -1); any non-zero value checks a box or picks the square.
int PresetPosition(ControlId id, int value);

// Told of every change of a control's position and of its value label, so that a
// view (the Qt panel) can follow changes made from code.
class ControlListener {
public:
    virtual ~ControlListener() = default;
    virtual void PositionChanged(ControlId id, int position) = 0;
    virtual void LabelChanged(ControlId id, const std::string& text) = 0;
};

class SoundControls {
public:
    explicit SoundControls(SoundParameters& parameters);

    void SetListener(ControlListener* listener) { listener_ = listener; }

    int Position(ControlId id) const { return positions_[id]; }
    const std::string& Label(ControlId id) const { return labels_[id]; }

    // Sets the control as the user or code does: the value is clamped to the control's
    // range and the handler runs only when the position really changes.
    void Set(ControlId id, int value);

    // Runs the control's handler on its current position (the preset loader does this
    // after setting a control, so the engine follows even when the value was unchanged).
    void RunHandler(ControlId id);

    // Applies a value exactly as the preset loader does for the control's kind, at its
    // PresetPosition.
    void ApplyPresetValue(ControlId id, int value);

    // The slider moves of start-up: echo depth 10 then 0, echo time 100, distortion
    // 100 then 0, distortion volume 50.
    void MoveStartUpSliders();

private:
    void StorePosition(ControlId id, int position);
    void WriteLabel(ControlId id, std::string text);

    SoundParameters& parameters_;
    ControlListener* listener_ = nullptr;
    std::array<int, kControlCount> positions_{};
    std::array<std::string, kControlCount> labels_{};
};

} // namespace morvane
