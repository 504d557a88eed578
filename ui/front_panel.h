#pragma once

#include <QFrame>

#include <array>
#include <optional>
#include <string>

#include "engine/parameters.h"

class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace morvane {

class TRadioGroup;
class TUpDown;

// The front panel: the sound controls in their groups, the tuning group and the preset
// group with its save button, laid out as one piece for the top left of a window. It
// shows what it is told (as the sound controls' listener, and through the tuning and
// preset calls) and reports what the user does through its signals; it knows nothing of
// audio, files or MIDI, so a window and a plugin's editor place it alike.
class FrontPanel : public QFrame, public ControlListener {
    Q_OBJECT
public:
    static constexpr int kWidth = 521;
    static constexpr int kHeight = 321;

    explicit FrontPanel(QWidget* parent);

    // The widget of a sound control and its value label (null where it has none).
    QWidget* ControlWidget(ControlId id) const { return controlWidgets_[id]; }
    QLabel* ValueLabel(ControlId id) const { return valueLabels_[id]; }

    // The tuning label's text, "440.0".
    void ShowTuning(const std::string& label);
    // The preset group's caption, the save button's caption (both untranslated, as the
    // preset group's state gives them) and the slot shown selected (-1: none).
    void ShowPresetMode(const char* groupCaption, const char* saveCaption, int selectedSlot);
    // Frames the slider that waits for a MIDI controller to learn; none when empty.
    void MarkLearning(std::optional<ControlId> id);
    // The slider framed, if any.
    std::optional<ControlId> MarkedForLearning() const { return learning_; }

    // Shows a position or value label set from code, without reporting it back.
    void PositionChanged(ControlId id, int position) override;
    void LabelChanged(ControlId id, const std::string& text) override;

    TRadioGroup* RadioPreset;
    QToolButton* ButtonPresetSave;
    QGroupBox* TuningGroup;
    QLabel* LabelTuning;
    TUpDown* UpDownTuning;
    QPushButton* btnTuningReset;

signals:
    // The user moved a sound control to the position (a radio item, a box checked or not,
    // the LFO shape chosen).
    void ControlMoved(ControlId id, int position);
    // A slider's context menu was asked for, at the global position.
    void ControlMenuRequested(ControlId id, const QPoint& at);
    void TuningClicked(bool up);
    void TuningResetClicked();
    // A preset item the user selected.
    void PresetClicked(int slot);
    void PresetSaveClicked();

private:
    void BuildSoundGroups();
    void BuildRadioGroups();
    void BuildSliderGroups();
    void BuildCheckBoxes();
    void BuildModTypePair();
    void BuildTuningGroup();
    void BuildPresetGroup();

    std::array<QWidget*, kControlCount> controlWidgets_{};
    std::array<QLabel*, kControlCount> valueLabels_{};
    // RadioButtonModType0 (triangle) and RadioButtonModType1 (square).
    std::array<QRadioButton*, 2> modTypeButtons_{};
    QFrame* learnMark_ = nullptr;
    std::optional<ControlId> learning_;
};

} // namespace morvane
