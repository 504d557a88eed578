#pragma once

#include <string>
#include <string_view>

#include "midi/controller_bindings.h"

namespace morvane::fixture {

// The bindings as "key=value" lines, each ending in "\n", as a settings file's section
// holds them.
inline std::string BindingsText(const ControllerBindings& bindings) {
    std::string text;
    for (const ControllerBindings::Entry& entry : bindings.Entries())
        text += entry.key + "=" + entry.value + "\n";
    return text;
}

// Reads "key=value" lines; broken lines are skipped, the others bound in order, so of two
// lines for one controller or one slider the later wins.
inline ControllerBindings BindingsFromText(std::string_view text) {
    ControllerBindings bindings;
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        const std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view{} : text.substr(newline + 1);
        const std::size_t equals = line.find('=');
        if (equals != std::string_view::npos)
            (void)bindings.ReadEntry(line.substr(0, equals), line.substr(equals + 1));
    }
    return bindings;
}

} // namespace morvane::fixture
