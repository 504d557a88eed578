#pragma once

#include <QAbstractNativeEventFilter>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "engine/keymap.h"

// The on-screen captions for the keyboard layout in use. The keys always play by their
// physical position on a JIS keyboard; on another layout the captions name what each of
// those physical keys types there, so that a user finds them.
namespace morvane {

using KeyCaptions = std::array<std::string, kKeyCount>;

// The keysym the X11 keycode types, unshifted, in the active layout; 0 (NoSymbol) for none.
using KeysymLookup = std::function<std::uint32_t(int keycode)>;

// UTF-8 captions for every key from the layout's keysyms; nothing when the layout is JIS,
// where the key table's own captions are right. A layout is JIS when it has the two keys
// only a JIS keyboard has: Ro (keycode 97) and Yen (keycode 132).
std::optional<KeyCaptions> CaptionsForLayout(const KeysymLookup& keysymAt);

// The captions for the X server's active layout; nothing on JIS or without an X11
// keyboard map (offscreen, Wayland), where the key table's captions stay.
std::optional<KeyCaptions> ActiveLayoutCaptions();

// Calls back on the application's thread when the X server's keyboard layout changes:
// another keymap loaded (setxkbmap, a new keyboard) or the active layout switched. Does
// nothing without X11.
class LayoutChangeWatcher : public QAbstractNativeEventFilter {
public:
    explicit LayoutChangeWatcher(std::function<void()> changed);
    ~LayoutChangeWatcher() override;
    LayoutChangeWatcher(const LayoutChangeWatcher&) = delete;
    LayoutChangeWatcher& operator=(const LayoutChangeWatcher&) = delete;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    std::function<void()> changed_;
    int xkbEventBase_ = -1; // the XKB extension's event code; -1 without X11
};

} // namespace morvane
