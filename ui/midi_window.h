#pragma once

#include <QDialog>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/midi_sources.h"
#include "base/result.h"
#include "engine/playing.h"
#include "midi/controller_bindings.h"
#include "settings/midi_bindings_file.h"

class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QSpinBox;

namespace morvane {

// A small lamp that lights for a moment whenever the count it watches grows: the MIDI
// messages of the channel listened to, read from the player's counter, never from the
// audio thread's side of anything else.
class MidiLamp : public QWidget {
    Q_OBJECT
public:
    static constexpr int kLitMs = 100;

    MidiLamp(QWidget* parent, std::function<std::uint64_t()> count);
    bool Lit() const { return lit_; }
    // Looks at the count now, as the timer does.
    void Look();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::function<std::uint64_t()> count_;
    std::uint64_t seen_ = 0;
    bool lit_ = false;
    QTimer poll_;
    QTimer dim_;
};

struct MidiWindowSetup {
    std::filesystem::path settingsFile;
    // --midi-channel, which overrides the file's channel for the run.
    std::optional<int> commandLineChannel;
    // Opens the list of the sources to connect (null while none can be listed).
    std::function<std::unique_ptr<MidiSources>()> openSources;
    // A settings file that cannot be written, in the program's words.
    std::function<void(const Status&)> fileError;
    // Told of each line of the file's section that is skipped.
    SkippedBindingLine skipped;
    // The window of a plugin instance: its playing settings are the instance's ports, shown
    // with ShowPlaying, and it has no channel or sources of its own. No file is read or
    // written.
    bool instance = false;
};

// "MIDI設定": the channel listened to, how velocity and the bend wheel play, the MIDI sources to
// connect (kept in the settings file and connected again whenever they appear), and the
// controllers' bindings, each removable, with the defaults a click away. A plugin instance's
// window shows how it plays and its bindings alone. The program creates it at
// start-up, shown or not, as it keeps the sources connected either way. The bindings are the
// window's owner's; a change of the channel, of a playing setting or of the bindings is announced
// for the owner to tell the player.
class MidiWindow : public QDialog {
    Q_OBJECT
public:
    // How often the sources present are looked for.
    static constexpr int kSourcePollMs = 1000;

    MidiWindow(QWidget* parent, MidiWindowSetup setup, ControllerBindings& bindings);
    ~MidiWindow() override;

    // The channel the player listens to, 1..16, or every channel when empty.
    std::optional<int> ListenedChannel() const;
    // Shows the bindings anew, after a learn or a menu's let-go.
    void ShowBindings();
    // Shows and saves a playing setting that MIDI changed in the player (the bend range by
    // RPN 0), as a change in its box would be saved; the player is not told again. An
    // instance's window shows its port's value so, and saves nothing.
    void ShowPlaying(PlayingControl control, int value);
    // Says, under the lists, that a learnt controller left the slider it moved before.
    void ShowControllerTaken(int controller, ControlId from, ControlId to);
    // Lists the sources present and connects those ticked, as the timer does.
    void PollSources();

    QSpinBox* channelBox;
    QLabel* channelNote;
    // Velocity to volume, velocity to cutoff and the bend range, in kPlayingControls' order.
    std::array<QSpinBox*, kPlayingControls.size()> playingBoxes{};
    QListWidget* sourceList;
    QListWidget* bindingList;
    QPushButton* removeButton;
    QPushButton* defaultsButton;
    QLabel* statusLine;

signals:
    // The channel or the bindings changed: the player is to be told.
    void MidiSetupChanged();
    // A playing setting changed (and was saved): the player is to be told.
    void PlayingChanged(PlayingControl control, int value);
    // The bindings changed here and are to be saved.
    void BindingsChanged();

protected:
    // The list is current when the window opens, not up to a poll later: the window is
    // made before the sound (and JACK's MIDI port) is opened.
    void showEvent(QShowEvent* event) override;

private:
    void ChannelChosen(int channel);
    void PlayingChosen(PlayingControl control, int value);
    void SourceTicked(QListWidgetItem* item);
    void RemoveBinding();
    void RestoreDefaults();
    void ShowConnection(const Status& connected);

    MidiWindowSetup setup_;
    ControllerBindings& bindings_;
    int channel_ = 0; // 0: all
    std::vector<std::string> sources_;
    std::unique_ptr<MidiSources> present_;
    QTimer sourcePoll_;
    // What the list shows, and which of it is present.
    std::vector<std::string> shownSources_;
    std::vector<std::string> presentSources_;
    bool showingSources_ = false;
};

} // namespace morvane
