#pragma once

#include <QWidget>

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "audio/error_reporter.h"
#include "audio/wav_recorder.h"
#include "audio/wave_out.h"
#include "base/result.h"
#include "engine/parameters.h"
#include "engine/synth_state.h"
#include "keyboard/input.h"
#include "keyboard/onscreen_keyboard.h"
#include "ui/preset_group.h"
#include "ui/tuning_control.h"

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QToolButton;

namespace morvane {

class TAboutBox;
class TRadioGroup;
class TUpDown;

// What the main window is built with: where its files live, the audio device and how
// errors reach the user. Tests give a hand-driven device and a temporary directory.
struct TForm1Setup {
    std::unique_ptr<WaveOutDevice> device;
    std::filesystem::path settingsFile;
    std::filesystem::path recordingDirectory;
    // The modal error box unless replaced.
    std::function<void(const std::string& message)> showError;
};

// The main window: the front panel of sound controls, the tuning and preset groups, the
// flat buttons and the on-screen keyboard. It owns the synth state, the audio stream
// and the recorder for the whole run.
class TForm1 : public QWidget,
               private ControlListener,
               private BlockSource,
               private WaveOutOwner,
               private ErrorReporter {
    Q_OBJECT
public:
    explicit TForm1(TForm1Setup setup, QWidget* parent = nullptr);
    ~TForm1() override;

    SynthState& State() { return *state_; }
    SoundControls& Controls() { return controls_; }
    KeyboardInput& Input() { return *input_; }
    TKeyButtons& KeyButtons() { return *keyButtons_; }
    WaveOut& Stream() { return *waveOut_; }
    WavRecorder& Recorder() { return *recorder_; }
    PresetGroup& Presets() { return *presets_; }
    TuningControl& Tuning() { return tuning_; }
    WaveOutDevice& Device() { return *device_; }

    // The widget of a sound control and its value label (null where it has none).
    QWidget* ControlWidget(ControlId id) const { return controlWidgets_[id]; }
    QLabel* ValueLabel(ControlId id) const { return valueLabels_[id]; }

    void SetTuning(int value);

    QFrame* Panel1;
    TRadioGroup* RadioPreset;
    QToolButton* ButtonPresetSave;
    QGroupBox* GroupBox9;
    QLabel* LabelTuning;
    TUpDown* UpDownTuning;
    QPushButton* btnTuningReset;
    QToolButton* btnOutput;
    QToolButton* btnRecord;
    QToolButton* btnAbout;
    QToolButton* btnExit;
    TAboutBox* AboutBox;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildPanel();
    void BuildSoundGroups();
    void BuildRadioGroups();
    void BuildSliderGroups();
    void BuildCheckBoxes();
    void BuildModTypePair();
    void BuildTuningGroup();
    void BuildPresetGroup();
    void BuildFlatButtons();
    void FormCreate();
    bool FormCloseQuery();
    void FormClose();

    void ButtonPresetSaveClick();
    void SetPresetSelection(int slot);
    void LoadFirstPreset();
    void ShowPresetMode();
    void UpDownTuningClick(bool up);
    void btnTuningResetClick();
    void ShowTuning();
    void LoadSaveTuning(bool save);
    void btnRecordClick();
    void ShowRecording(bool recording);

    void PositionChanged(ControlId id, int position) override;
    void LabelChanged(ControlId id, const std::string& text) override;
    bool RenderInto(std::int16_t* block) override;
    void RequestClose() override;
    void ShowError(const std::string& message) override;
    void ShowFileError(const Status& status);

    std::unique_ptr<SynthState> state_;
    SoundControls controls_;
    TuningControl tuning_;
    std::unique_ptr<WaveOutDevice> device_;
    std::filesystem::path settingsFile_;
    std::filesystem::path recordingDirectory_;
    std::function<void(const std::string&)> showError_;
    std::unique_ptr<WaveOut> waveOut_;
    std::unique_ptr<WavRecorder> recorder_;
    std::unique_ptr<PresetGroup> presets_;
    std::unique_ptr<TKeyButtons> keyButtons_;
    std::unique_ptr<KeyboardInput> input_;
    std::array<QWidget*, kControlCount> controlWidgets_{};
    std::array<QLabel*, kControlCount> valueLabels_{};
    // RadioButtonModType0 (triangle) and RadioButtonModType1 (square).
    std::array<QRadioButton*, 2> modTypeButtons_{};
    bool closed_ = false;
};

} // namespace morvane
