#pragma once

#include <QTimer>
#include <QWidget>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "audio/buffer_growth.h"
#include "audio/error_reporter.h"
#include "audio/realtime_output.h"
#include "audio/realtime_player.h"
#include "audio/recorder_thread.h"
#include "audio/sequencer_input.h"
#include "audio/wav_recorder.h"
#include "audio/wave_out.h"
#include "base/result.h"
#include "engine/parameters.h"
#include "engine/sound_parameters.h"
#include "keyboard/input.h"
#include "keyboard/onscreen_keyboard.h"
#include "midi/controller_bindings.h"
#include "ui/preset_group.h"
#include "ui/tuning_control.h"

class QMenu;
class QToolButton;

namespace morvane {

class ErrorBoxes;
class FrontPanel;
class TAboutBox;

// What the main window is built with: where its files live, the audio device and how
// errors reach the user. Tests give a hand-driven device and a temporary directory.
struct MainWindowSetup {
    // The classic ring's device; unused when lowLatency is set.
    std::unique_ptr<WaveOutDevice> device;
    std::filesystem::path settingsFile;
    std::filesystem::path recordingDirectory;
    // The error boxes unless replaced.
    std::function<void(const std::string& message)> showError;
    // Render in the device's callback instead of through the ring.
    std::optional<RealtimeOutputOptions> lowLatency;
    // The MIDI channel listened to, 1..16; every channel when empty.
    std::optional<int> midiChannel;
    // Take MIDI from the ALSA sequencer when the sound does not go through JACK.
    bool openSequencer = false;
};

// The main window: the front panel (the sound controls, the tuning and preset groups), the
// flat buttons and the on-screen keyboard. It owns the sound as the panel sets it, the
// player that renders it, the audio stream and the recorder for the whole run. Every
// input reaches the player as an event; with the classic ring the player renders on
// this thread and takes each event at once, in low-latency mode it renders in the
// device's callback and a timer brings back the key colours and recorded blocks.
class MainWindow : public QWidget,
                   private BlockSource,
                   private WaveOutOwner,
                   private ErrorReporter {
    Q_OBJECT
public:
    explicit MainWindow(MainWindowSetup setup, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The sound as the panel, the presets and the tuning set it; the player holds the
    // running state.
    const SoundParameters& Sound() const { return sound_; }
    // Only for the classic ring, whose player renders on this thread.
    const RealtimePlayer& Player() const { return *player_; }
    RealtimePlayer& Player() { return *player_; }
    SoundControls& Controls() { return controls_; }
    KeyboardInput& Input() { return *input_; }
    TKeyButtons& KeyButtons() { return *keyButtons_; }
    WaveOut& Stream() { return *waveOut_; }
    WavRecorder& Recorder() { return *recorder_; }
    PresetGroup& Presets() { return *presets_; }
    TuningControl& Tuning() { return tuning_; }
    WaveOutDevice& Device() { return *device_; }

    FrontPanel& Panel() { return *panel_; }

    void SetTuning(int value);

    // Writes the tuning and the controller bindings to the settings file now, as a
    // session manager's save asks. Presets are written when the user saves them.
    Status SaveSettings();

    // The controllers that move sliders, as the settings file keeps them.
    const ControllerBindings& Bindings() const { return bindings_; }
    // A slider's context menu: "MIDI学習" and "MIDI学習を解除". The caller owns it.
    QMenu* MidiLearnMenu(ControlId id);
    // A close signal's request: closes as the exit button does, but nothing waits for the
    // user from now on, as nobody may be there: every message goes to standard error.
    void CloseForSignal();
    // While this thread is the player's consumer (the classic ring, or no device), applies
    // what the sequencer has queued and shows what it did to the panel.
    void TakeSequencerMidi();

    QToolButton* btnOutput;
    QToolButton* btnRecord;
    QToolButton* btnAbout;
    QToolButton* btnExit;
    TAboutBox* AboutBox;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildPanel();
    void BuildFlatButtons();
    void Start();
    bool OpenAudio();
    bool CreatePlayer(int deviceRate);
    void StartOutput();
    void TendOutput();
    void ShowHealth();
    void SendEvent(const PlayerEvent& event);
    void ApplyHere();
    void OpenSequencer();
    void ApplyPanelAction(const PanelAction& action);
    void LoadBindings();
    void SaveBindings();
    void SyncSound();
    void DrainReturnQueues();
    void CheckLowLatencyOutput();
    void LoseOutput(const Error& loss);
    void TryReopen();
    void TakeReopened(Result<std::unique_ptr<RealtimeOutput>> opened);
    Status ReadyToRecord() const;
    bool Recording();
    bool ReadyToClose();
    void ShutDown();

    void ButtonPresetSaveClick();
    void SetPresetSelection(int slot);
    void SendPresets();
    void LoadFirstPreset();
    void ShowPresetMode();
    void UpDownTuningClick(bool up);
    void btnTuningResetClick();
    void ShowTuning();
    void btnRecordClick();
    void ShowRecording(bool recording);

    bool RenderInto(std::int16_t* block) override;
    void RequestClose() override;
    void ShowError(const std::string& message) override;
    void ShowFileError(const Status& status);

    SoundParameters sound_;
    SoundControls controls_;
    TuningControl tuning_;
    std::unique_ptr<WaveOutDevice> device_;
    std::filesystem::path settingsFile_;
    std::filesystem::path recordingDirectory_;
    std::function<void(const std::string&)> showError_;
    ErrorBoxes* errorBoxes_;
    std::optional<RealtimeOutputOptions> lowLatency_;
    std::unique_ptr<RealtimePlayer> player_;
    ControllerBindings bindings_;
    std::optional<int> midiChannel_;
    bool openSequencer_;
    // Destroyed before the player it sends to.
    std::unique_ptr<SequencerInput> sequencer_;
    // Destroyed before the player it pulls from.
    std::unique_ptr<RealtimeOutput> output_;
    // What the player was last sent; the panel changes sound_ alone.
    SoundParameters sentSound_{};
    std::uint64_t panelActionsSeen_ = 0;
    std::uint64_t sentPanelActionsSeen_ = 0;
    // Low latency: brings back what the callback sends, passes on the sound, watches
    // the device and the drain at close.
    QTimer returnTimer_;
    // While this thread is the player's consumer, hands the sequencer's messages on.
    QTimer sequencerTimer_;
    // The device went away; it is tried again at nextReopen_, on a thread of its own, as
    // an open takes a tenth of a second or more.
    bool outputLost_ = false;
    std::future<Result<std::unique_ptr<RealtimeOutput>>> reopening_;
    // A device back at a rate the player cannot reach has been reported.
    bool rateRefusalTold_ = false;
    // Input has had to wait for room in the player's queue, which is said once.
    bool waitingTold_ = false;
    std::chrono::steady_clock::time_point nextReopen_;
    BufferGrowth growth_;
    std::chrono::steady_clock::time_point nextHealthShown_;
    bool drainRequested_ = false;
    std::chrono::steady_clock::time_point drainDeadline_;
    std::unique_ptr<WaveOut> waveOut_;
    std::unique_ptr<WavRecorder> recorder_;
    // Low latency: writes the recording away from this thread and the callback.
    std::unique_ptr<RecorderThread> recorderThread_;
    std::unique_ptr<PresetGroup> presets_;
    std::unique_ptr<TKeyButtons> keyButtons_;
    std::unique_ptr<KeyboardInput> input_;
    FrontPanel* panel_ = nullptr;
    bool closed_ = false;
    bool closingForSignal_ = false;
};

} // namespace morvane
