#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "base/result.h"
#include "midi/controller_bindings.h"

// The controller bindings of a plugin instance as one text, saved with a host's session
// and shown to the plugin's panel. The first line names the format and its version,
// "morvane-bindings 1"; then one line for each controller whose binding differs from the
// defaults, in the words of the settings file's MIDI section: "CC20=VCF_CUTOFF", "CC74="
// for a default controller that moves nothing, "AT=VCF_CUTOFF" for aftertouch.
//
// The version changes only when lines that exist change their meaning: a later version
// may add lines of its own, which this one skips.
namespace morvane {

inline constexpr std::string_view kVersionedBindingsHeader = "morvane-bindings 1";

// Room for the longest text: every slider on a controller of its own and every default
// controller let go.
inline constexpr std::size_t kVersionedBindingsCapacity = 2048;

// Writes the text and a terminating zero into out without allocating, for an audio
// thread; the text's length, or 0 when out is too small.
std::size_t WriteVersionedBindings(const ControllerBindings& bindings,
                                   std::span<char> out) noexcept;
std::string VersionedBindings(const ControllerBindings& bindings);

// Told of each line that is skipped: the line, and why.
using SkippedTextLine = std::function<void(std::string_view line, const std::string& why)>;

// The bindings the text keeps: the defaults, changed by its lines in order. A line that
// names no binding, or a broken one, is skipped and told; a text whose first line is not
// this version's is refused whole.
Result<ControllerBindings> ReadVersionedBindings(std::string_view text,
                                                 const SkippedTextLine& skipped = {});

} // namespace morvane
