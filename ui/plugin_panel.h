#pragma once

#include <QSocketNotifier>
#include <QWidget>

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/parameters.h"
#include "engine/sound_parameters.h"
#include "keyboard/input.h"
#include "keyboard/onscreen_keyboard.h"
#include "midi/controller_bindings.h"
#include "plugin/ui_link.h"
#include "ui/preset_group.h"
#include "ui/tuning_control.h"

class QCloseEvent;
class QKeyEvent;
class QMenu;
class QToolButton;

namespace morvane {

class FrontPanel;
class MidiWindow;

// The plugin's panel in a process of its own: the program's front panel and on-screen
// keyboard, less what the host owns (recording, the volume, the sound device). It plays
// nothing itself: every control moves its port through the host, which moves the control
// back when it moves the port; notes go to the instance's MIDI input; presets come from and
// go to the user's settings file as the program keeps them. It talks to the UI library in
// the host over the socket it was started with, and ends when that closes.
class PluginPanel : public QWidget, private ControlListener {
    Q_OBJECT
public:
    PluginPanel(int socket, std::filesystem::path settingsFile, const QString& title);
    ~PluginPanel() override;

    FrontPanel& Panel() { return *panel_; }

    QToolButton* btnMidi;
    MidiWindow* midiWindow;

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Esc gives up a MIDI learn that waits.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void PositionChanged(ControlId id, int position) override;
    void LabelChanged(ControlId id, const std::string& text) override;

    void Receive();
    void Take(const lv2::ReceivedLink& link);
    void TakeValue(std::uint32_t port, float value);
    void TakeMessage(std::span<const std::uint8_t> atom);
    void Send(const std::vector<std::uint8_t>& message);
    void WritePort(int port, int value);
    void SendMidi(std::uint8_t status, int note, int velocity);
    void SendObject(int type, std::optional<std::pair<int, int>> property = std::nullopt);
    void SendCommand(const Command& command);
    void HoldCtrl(bool held);

    QMenu* MidiLearnMenu(ControlId id);
    void BuildMidiWindow();
    void SendBindingChanges();
    void ShowLearnt(std::optional<ControlId> id, std::optional<int> controller,
                    std::optional<ControlId> takenFrom);
    void SelectPreset(int slot);
    void ShowPresetMode();
    void ShowTuning();
    void TuningMoved();

    int socket_;
    QSocketNotifier notifier_;
    std::filesystem::path settingsFile_;
    std::array<std::uint32_t, lv2::kLinkUriCount> urids_{};
    bool uridsKnown_ = false;
    SoundParameters sound_;
    SoundControls controls_;
    TuningControl tuning_;
    PresetGroup presets_;
    FrontPanel* panel_ = nullptr;
    std::unique_ptr<TKeyButtons> keyButtons_;
    std::unique_ptr<KeyboardInput> input_;
    // Where the host has each control port, as far as the panel knows: a control moved to
    // where its port already is writes nothing, and a move the host made is not sent back.
    std::array<std::optional<int>, kControlCount> ports_{};
    std::optional<int> tuningPort_;
    // Set while the controls follow the host, whose ports need no write back.
    bool following_ = false;
    // The keys this panel sent down and not yet up, and whether it told Ctrl held.
    KeySet keysDown_;
    bool ctrlHeld_ = false;
    // The instance's bindings as it last told them, and as the MIDI window shows and edits
    // them.
    ControllerBindings told_ = ControllerBindings::Defaults();
    ControllerBindings bindings_ = ControllerBindings::Defaults();
};

} // namespace morvane
