#include "ui/display_check.h"

#include <cstdlib>
#include <string_view>

#include <xcb/xcb.h>

namespace morvane {

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool X11Reachable(const std::string& display) {
    if (display.empty())
        return false;
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    const bool reachable = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reachable;
}

// Qt's own test of a Wayland session: a compositor socket is named.
bool WaylandNamed() {
    return !Environment("WAYLAND_DISPLAY").empty();
}

std::string X11Problem(const std::string& display) {
    if (display.empty())
        return "no display to show the window on (DISPLAY is not set); start Morvane in a "
               "desktop session";
    return "cannot open the display \"" + display +
           "\"; start Morvane in a desktop session that can reach it";
}

} // namespace

std::optional<std::string> MissingDisplay() {
    const std::string display = Environment("DISPLAY");
    const std::string platforms = Environment("QT_QPA_PLATFORM");
    if (platforms.empty()) {
        if (WaylandNamed() || X11Reachable(display))
            return std::nullopt;
        return X11Problem(display);
    }
    // A list of platforms is tried in order; the first that starts wins. Options follow a
    // platform's name after a colon.
    std::string_view rest = platforms;
    while (!rest.empty()) {
        const std::size_t separator = rest.find(';');
        const std::string_view entry = rest.substr(0, separator);
        rest =
            separator == std::string_view::npos ? std::string_view{} : rest.substr(separator + 1);
        const std::string_view name = entry.substr(0, entry.find(':'));
        if (name == "xcb") {
            if (X11Reachable(display))
                return std::nullopt;
        } else if (name.starts_with("wayland")) {
            if (WaylandNamed())
                return std::nullopt;
        } else if (!name.empty()) {
            return std::nullopt; // offscreen, vnc, a framebuffer: nothing to check here
        }
    }
    return X11Problem(display);
}

} // namespace morvane
