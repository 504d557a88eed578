#pragma once

#include <optional>

namespace morvane {

// Whether the key with this X11 keycode is down at this very moment, asked of the X
// server. Nothing where there is no X11 connection (offscreen, Wayland).
std::optional<bool> X11KeyDown(int keycode);

// Whether a physical key-state query exists on this platform at all.
bool HasX11KeyState();

} // namespace morvane
