#pragma once

#include <QTimer>
#include <QWidget>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "audio/audio_session.h"
#include "audio/error_reporter.h"
#include "audio/realtime_player.h"
#include "audio/sequencer_input.h"
#include "audio/wav_recorder.h"
#include "base/result.h"
#include "engine/parameters.h"
#include "engine/sound_parameters.h"
#include "keyboard/input.h"
#include "keyboard/onscreen_keyboard.h"
#include "midi/controller_bindings.h"
#include "ui/preset_group.h"
#include "ui/tuning_control.h"

class QKeyEvent;
class QMenu;
class QToolButton;

namespace morvane {

class ErrorBoxes;
class FrontPanel;
class MidiSources;
class MidiLamp;
class MidiWindow;
class TAboutBox;

// What the main window is built with: where its files live, the audio device and how
// errors reach the user. Tests give a hand-driven device and a temporary directory.
struct MainWindowSetup {
    // The latency mode, and the device it opens.
    AudioSessionSetup audio;
    std::filesystem::path settingsFile;
    std::filesystem::path recordingDirectory;
    // The error boxes unless replaced.
    std::function<void(const std::string& message)> showError;
    // The MIDI channel listened to, 1..16; every channel when empty.
    std::optional<int> midiChannel;
    // Take MIDI from the ALSA sequencer when the sound does not go through JACK.
    bool openSequencer = false;
};

// The main window: the front panel (the sound controls, the tuning and preset groups), the
// flat buttons and the on-screen keyboard. It owns the sound as the panel sets it, the
// player that renders it and the audio session that plays it for the whole run. Every
// input reaches the player as an event; the player renders in the device's callback and
// a timer brings back the key colours and tends the session. While no device plays, this
// thread takes the player's input itself, so the keys still light up.
class MainWindow : public QWidget, private ErrorReporter {
    Q_OBJECT
public:
    explicit MainWindow(MainWindowSetup setup, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The sound as the panel, the presets and the tuning set it; the player holds the
    // running state.
    const SoundParameters& Sound() const { return sound_; }
    // Read its state only while no device pulls from it.
    const RealtimePlayer& Player() const { return *player_; }
    RealtimePlayer& Player() { return *player_; }
    SoundControls& Controls() { return controls_; }
    KeyboardInput& Input() { return *input_; }
    TKeyButtons& KeyButtons() { return *keyButtons_; }
    WavRecorder& Recorder() { return *recorder_; }
    PresetGroup& Presets() { return *presets_; }
    TuningControl& Tuning() { return tuning_; }

    FrontPanel& Panel() { return *panel_; }

    void SetTuning(int value);

    // Writes the tuning and the controller bindings to the settings file now, as a
    // session manager's save asks. Presets are written when the user saves them.
    Status SaveSettings();

    // The controllers that move sliders, as the settings file keeps them.
    const ControllerBindings& Bindings() const { return bindings_; }
    // A slider's context menu: "MIDI学習", "MIDI学習を解除" and, not to be chosen, the
    // controller bound to it. The caller owns it.
    QMenu* MidiLearnMenu(ControlId id);
    // A close signal's request: closes as the exit button does, but nothing waits for the
    // user from now on, as nobody may be there: every message goes to standard error.
    void CloseForSignal();
    // Takes back what the player sends, passes on the sound and tends the audio session:
    // the timer's work, every few milliseconds. While no device plays, this thread applies
    // the player's input, the sequencer's included.
    void TendAudio();

    QToolButton* btnOutput;
    QToolButton* btnRecord;
    QToolButton* btnAbout;
    QToolButton* btnExit;
    QToolButton* btnMidi;
    MidiLamp* midiLamp;
    TAboutBox* AboutBox;
    MidiWindow* midiWindow;

protected:
    void closeEvent(QCloseEvent* event) override;
    // Esc gives up a MIDI learn that waits.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildPanel();
    void BuildFlatButtons();
    void Start();
    bool OpenAudio();
    bool CreatePlayer(int deviceRate);
    void ShowHealth();
    void SendEvent(const PlayerEvent& event);
    void ApplyHere();
    void OpenSequencer();
    void ApplyPanelAction(const PanelAction& action);
    void LoadBindings();
    void BuildMidiWindow();
    void ListenToMidiAnew();
    std::unique_ptr<MidiSources> OpenMidiSources();
    void SaveBindings();
    void SyncSound();
    void DrainReturnQueues();
    bool ReadyToClose();
    void ShutDown();

    void ButtonPresetSaveClick();
    void SetPresetSelection(int slot);
    void SendPresets();
    void SendPlaying();
    void LoadFirstPreset();
    void ShowPresetMode();
    void UpDownTuningClick(bool up);
    void btnTuningResetClick();
    void ShowTuning();
    void btnRecordClick();
    void ShowRecording(bool recording);

    void ShowError(const std::string& message) override;
    void ShowFileError(const Status& status);

    SoundParameters sound_;
    SoundControls controls_;
    TuningControl tuning_;
    std::filesystem::path settingsFile_;
    std::filesystem::path recordingDirectory_;
    std::function<void(const std::string&)> showError_;
    ErrorBoxes* errorBoxes_;
    std::unique_ptr<WavRecorder> recorder_;
    std::unique_ptr<RealtimePlayer> player_;
    // Destroyed before the player it plays and the recorder it records to.
    std::unique_ptr<AudioSession> audio_;
    ControllerBindings bindings_;
    std::optional<int> midiChannel_;
    bool openSequencer_;
    // Destroyed before the player it sends to.
    std::unique_ptr<SequencerInput> sequencer_;
    // What the player was last sent; the panel changes sound_ alone.
    SoundParameters sentSound_{};
    std::uint64_t panelActionsSeen_ = 0;
    std::uint64_t sentPanelActionsSeen_ = 0;
    // Brings back what the callback sends, passes on the sound, tends the session and
    // watches the drain at close.
    QTimer returnTimer_;
    // Input has had to wait for room in the player's queue, which is said once.
    bool waitingTold_ = false;
    std::chrono::steady_clock::time_point nextHealthShown_;
    bool drainRequested_ = false;
    std::unique_ptr<PresetGroup> presets_;
    std::unique_ptr<TKeyButtons> keyButtons_;
    std::unique_ptr<KeyboardInput> input_;
    FrontPanel* panel_ = nullptr;
    bool closed_ = false;
    bool closingForSignal_ = false;
};

} // namespace morvane
