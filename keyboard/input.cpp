#include "keyboard/input.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include <utility>

#include "engine/keymap.h"
#include "keyboard/key_state.h"

namespace morvane {

namespace {

constexpr int kSweepInterval = 250; // ms
constexpr int kTicksPerSweep = 4;   // the sweep itself runs once a second

struct ScanCode {
    int keycode; // X11 keycode: the Linux evdev code + 8, the same key whatever the layout
    int virtualKey;
};

// The keys the instrument reads, by their position on a JIS keyboard, row by row.
// clang-format off
constexpr ScanCode kScanCodes[] = {
    // 1 to 0, then - and ^
    {10, 0x31}, {11, 0x32}, {12, 0x33}, {13, 0x34}, {14, 0x35}, {15, 0x36}, {16, 0x37},
    {17, 0x38}, {18, 0x39}, {19, 0x30}, {20, 0xBD}, {21, 0xDE},
    // Q to P, then @ and [
    {24, 0x51}, {25, 0x57}, {26, 0x45}, {27, 0x52}, {28, 0x54}, {29, 0x59}, {30, 0x55},
    {31, 0x49}, {32, 0x4F}, {33, 0x50}, {34, 0xC0}, {35, 0xDB},
    // A to L, then : and ]; the ; between L and : (keycode 47) plays nothing
    {38, 0x41}, {39, 0x53}, {40, 0x44}, {41, 0x46}, {42, 0x47}, {43, 0x48}, {44, 0x4A},
    {45, 0x4B}, {46, 0x4C}, {48, 0xBA}, {51, 0xDD},
    // Z to M, then , . / and the Ro key right of /
    {52, 0x5A}, {53, 0x58}, {54, 0x43}, {55, 0x56}, {56, 0x42}, {57, 0x4E}, {58, 0x4D},
    {59, 0xBC}, {60, 0xBE}, {61, 0xBF}, {97, 0xE2},
    // left and right Ctrl, F1 to F8
    {37, kVkControl}, {105, kVkControl},
    {67, 0x70}, {68, 0x71}, {69, 0x72}, {70, 0x73}, {71, 0x74}, {72, 0x75}, {73, 0x76}, {74, 0x77},
};
// clang-format on

int VirtualKeyForKeycode(int keycode) {
    for (const ScanCode& entry : kScanCodes) {
        if (entry.keycode == keycode)
            return entry.virtualKey;
    }
    return 0;
}

// Without a keycode (test events, some platforms) the Qt key stands in for the position.
constexpr std::pair<int, int> kQtKeys[] = {
    {Qt::Key_Comma, 0xBC},       {Qt::Key_Period, 0xBE},        {Qt::Key_Slash, 0xBF},
    {Qt::Key_Colon, 0xBA},       {Qt::Key_Backslash, 0xE2},     {Qt::Key_BracketRight, 0xDD},
    {Qt::Key_Minus, 0xBD},       {Qt::Key_AsciiCircum, 0xDE},   {Qt::Key_At, 0xC0},
    {Qt::Key_BracketLeft, 0xDB}, {Qt::Key_Control, kVkControl},
};

int VirtualKeyForQtKey(int key) {
    if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z))
        return key; // Qt uses the same codes for letters and digits
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return kVkF1 + (key - Qt::Key_F1);
    for (const auto& [qtKey, virtualKey] : kQtKeys) {
        if (qtKey == key)
            return virtualKey;
    }
    return 0;
}

std::optional<bool> X11VirtualKeyDown(int virtualKey) {
    if (!HasX11KeyState())
        return std::nullopt;
    for (const ScanCode& entry : kScanCodes) {
        if (entry.virtualKey == virtualKey && X11KeyDown(entry.keycode).value_or(false))
            return true;
    }
    return false;
}

} // namespace

int VirtualKeyFor(const QKeyEvent& event) {
    if (event.nativeScanCode() != 0)
        return VirtualKeyForKeycode(static_cast<int>(event.nativeScanCode()));
    // The digits of the number pad are other keys than those of the digit row.
    if (event.modifiers() & Qt::KeypadModifier)
        return 0;
    return VirtualKeyForQtKey(event.key());
}

int KeycodeForVirtualKey(int virtualKey) {
    for (const ScanCode& entry : kScanCodes) {
        if (entry.virtualKey == virtualKey)
            return entry.keycode;
    }
    return 0;
}

KeyboardInput::KeyboardInput(QWidget* window, InputSink send, TKeyButtons& keys,
                             std::function<void(int)> setPresetSelection)
    : window_(window), send_(std::move(send)), keys_(keys),
      setPresetSelection_(std::move(setPresetSelection)), physicalKeyState_(&X11VirtualKeyDown) {
    for (int key = 0; key < kKeyCount; ++key) {
        keys_[key]->OnMouseDown = [this](TColorButton* button) { send_(KeyDown{button->KeyNum}); };
        keys_[key]->OnMouseUp = [this](TColorButton* button) { send_(KeyUp{button->KeyNum}); };
    }
    connect(&sweepTimer_, &QTimer::timeout, this, &KeyboardInput::SweepReleasedKeys);
    qApp->installEventFilter(this);
}

KeyboardInput::~KeyboardInput() {
    qApp->removeEventFilter(this);
}

bool KeyboardInput::KeyPressed(int virtualKey, bool ctrl) {
    send_(HoldLfo{LfoHolder::CtrlKey, ctrl});
    if (virtualKey >= kVkF1 && virtualKey <= kVkF8) {
        // Going through "none" makes the group run its handler even for the slot that
        // is already selected, so a function key always reloads (or saves) its preset.
        setPresetSelection_(-1);
        setPresetSelection_(virtualKey - kVkF1);
        return false;
    }
    const std::optional<int> key = KeyForVirtualKey(virtualKey);
    if (!key)
        return false;
    send_(KeyDown{*key});
    return true;
}

bool KeyboardInput::KeyReleased(int virtualKey, bool ctrl) {
    send_(HoldLfo{LfoHolder::CtrlKey, ctrl});
    const std::optional<int> key = KeyForVirtualKey(virtualKey);
    if (!key)
        return false;
    send_(KeyUp{*key});
    return true;
}

void KeyboardInput::StartSweep() {
    sweepTimer_.setInterval(kSweepInterval);
    sweepTimer_.start();
}

void KeyboardInput::SweepReleasedKeys() {
    if (++sweepTicks_ < kTicksPerSweep)
        return;
    sweepTicks_ = 0;
    // With the focus on the window itself every key-up arrives here, so nothing is lost.
    if (WindowItselfHasFocus())
        return;
    // Whoever renders holds the voices: it releases those whose key is not in the set.
    KeySet held;
    for (int key = 0; key < kKeyCount; ++key)
        held[key] = keys_[key]->Pressed() || IsKeyDown(KeyAt(key).VirtualKey);
    send_(ReleaseUnheld{held, IsKeyDown(kVkControl)});
}

bool KeyboardInput::IsKeyDown(int virtualKey) const {
    return physicalKeyState_(virtualKey).value_or(keysSeenDown_.contains(virtualKey));
}

bool KeyboardInput::WindowItselfHasFocus() const {
    const QWidget* focus = QApplication::focusWidget();
    return window_->isActiveWindow() && (focus == nullptr || focus == window_);
}

bool KeyboardInput::CtrlHeldNow(const QKeyEvent& event) const {
    // Where the platform can be asked, its answer is the state after this very event.
    const Qt::KeyboardModifiers modifiers =
        HasX11KeyState() ? QGuiApplication::queryKeyboardModifiers() : event.modifiers();
    return modifiers.testFlag(Qt::ControlModifier);
}

bool KeyboardInput::eventFilter(QObject* watched, QEvent* event) {
    // A key released while another window has the keyboard sends no key-up at all.
    if (watched == window_ && event->type() == QEvent::WindowDeactivate)
        keysSeenDown_.clear();
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    auto* receiver = qobject_cast<QWidget*>(watched);
    if (!receiver || receiver->window() != window_)
        return false;
    const bool passedOn =
        event == lastEvent_ && lastReceiver_ && receiver == lastReceiver_->parentWidget();
    lastEvent_ = event;
    lastReceiver_ = receiver;
    if (passedOn)
        return false;
    return HandleKeyEvent(static_cast<QKeyEvent&>(*event));
}

bool KeyboardInput::HandleKeyEvent(QKeyEvent& event) {
    const int virtualKey = VirtualKeyFor(event);
    if (event.type() == QEvent::KeyPress) {
        if (virtualKey != 0)
            keysSeenDown_.insert(virtualKey);
        return KeyPressed(virtualKey, CtrlHeldNow(event));
    }
    // X11 sends a held key's auto-repeat as key-up and key-down pairs and does not
    // always flag them; a key-up of a key that is still down is such a repeat, and
    // passing it on would stop and restart the held note.
    if (event.isAutoRepeat() || physicalKeyState_(virtualKey).value_or(false))
        return KeyForVirtualKey(virtualKey).has_value();
    keysSeenDown_.erase(virtualKey);
    return KeyReleased(virtualKey, CtrlHeldNow(event));
}

} // namespace morvane
