#pragma once

#include <optional>
#include <string>

// Qt aborts when the window system it is told to use cannot be reached. The program
// asks first, so that a start without a display ends with a clear line instead.
namespace morvane {

// Why no window can be shown: DISPLAY unset or unreachable for X, and no Wayland display
// either. Nothing when a window can be shown, or when QT_QPA_PLATFORM names a platform
// that needs no display server (offscreen, say).
std::optional<std::string> MissingDisplay();

} // namespace morvane
