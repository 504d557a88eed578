#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <optional>
#include <set>

#include "engine/command.h"
#include "keyboard/onscreen_keyboard.h"

class QKeyEvent;
class QWidget;

namespace morvane {

inline constexpr int kVkControl = 0x11;
inline constexpr int kVkF1 = 0x70;
inline constexpr int kVkF8 = 0x77;

// The key table's virtual-key code for a Qt key event, by the key's physical position
// where the event carries an X11 keycode, else by its Qt key; 0 for a key that has no
// code here.
int VirtualKeyFor(const QKeyEvent& event);

// The X11 keycode of the physical key that sends this virtual-key code; 0 for none.
int KeycodeForVirtualKey(int virtualKey);

// Plays the instrument from the computer keyboard and the on-screen key buttons, keeps
// the Ctrl gate of the LFO, selects presets with F1 to F8 and, once a second, releases
// notes whose key is no longer held. It never touches the engine: every input goes out
// as a command to whoever plays the instrument, and the key colours come back from
// there.
class KeyboardInput : public QObject {
    Q_OBJECT
public:
    using InputSink = std::function<void(const Command& command)>;

    // setPresetSelection sets the preset group's selected index (-1 for none).
    KeyboardInput(QWidget* window, InputSink send, TKeyButtons& keys,
                  std::function<void(int)> setPresetSelection);
    ~KeyboardInput() override;

    // Each returns whether the key is consumed.
    bool KeyPressed(int virtualKey, bool ctrl);
    bool KeyReleased(int virtualKey, bool ctrl);
    void SweepReleasedKeys();

    void StartSweep();
    bool SweepRunning() const { return sweepTimer_.isActive(); }

    // Replaces the physical key-state query (nothing: unknown on this platform).
    using KeyStateQuery = std::function<std::optional<bool>(int virtualKey)>;
    void SetKeyStateQuery(KeyStateQuery query) { physicalKeyState_ = std::move(query); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool HandleKeyEvent(QKeyEvent& event);
    bool IsKeyDown(int virtualKey) const;
    bool WindowItselfHasFocus() const;
    bool CtrlHeldNow(const QKeyEvent& event) const;

    QWidget* window_;
    InputSink send_;
    TKeyButtons& keys_;
    std::function<void(int)> setPresetSelection_;
    KeyStateQuery physicalKeyState_;
    // Where no physical query exists: the keys this window saw go down and not up.
    std::set<int> keysSeenDown_;
    // A key event that nobody accepts travels on to the parents, and the application
    // filter sees it again at each; these recognise the repeats.
    const QEvent* lastEvent_ = nullptr;
    QPointer<QWidget> lastReceiver_;
    QTimer sweepTimer_;
    int sweepTicks_ = 0;
};

} // namespace morvane
