#pragma once

#include <optional>

struct xcb_connection_t;

namespace morvane {

// The application's own X11 connection; null where there is none (offscreen, Wayland).
xcb_connection_t* X11Connection();

// Whether the key with this X11 keycode is down at this very moment, asked of the X
// server. Nothing where there is no X11 connection (offscreen, Wayland).
std::optional<bool> X11KeyDown(int keycode);

// Whether a physical key-state query exists on this platform at all.
bool HasX11KeyState();

} // namespace morvane
