#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "engine/parameters.h"

// Which MIDI controller moves which slider. A controller moves at most one slider and a
// slider follows at most one controller, so learning a controller for a slider takes
// it from the slider it had and the slider's old controller lets go.
//
// The settings file keeps the bindings one line a controller, "CC<n>" as the key and
// the slider's settings-file key as the value: CC74=VCF_CUTOFF. Channel aftertouch binds
// like a controller, under the number kAftertouch and the key "AT": AT=VCF_CUTOFF.
namespace morvane {

inline constexpr int kControllerCount = 128;
inline constexpr int kAftertouch = kControllerCount;
// Controllers and aftertouch: what can be bound is numbered 0..kBindingSourceCount-1.
inline constexpr int kBindingSourceCount = kControllerCount + 1;

class ControllerBindings {
public:
    // No controller bound to anything.
    ControllerBindings();

    // CC74 cutoff, CC71 resonance, CC73 attack, CC75 decay, CC72 release: the sound
    // controllers general MIDI keyboards send from their knobs.
    static ControllerBindings Defaults();

    // Aftertouch is learnable. The controllers that already mean something (bank select, mod wheel,
    // data entry, sustain, the parameter-number controllers, the channel mode messages) cannot be
    // bound: a knob that also bent the LFO or held notes would surprise.
    static bool Learnable(int controller);

    // Only sliders follow a controller; radio groups and boxes have no travel.
    static bool Bindable(ControlId id);

    Status Bind(int controller, ControlId id);
    void Unbind(ControlId id);

    std::optional<ControlId> ControlFor(int controller) const;
    std::optional<int> ControllerFor(ControlId id) const;

    // The settings file's lines, in ascending controller order.
    struct Entry {
        std::string key;   // "CC74"
        std::string value; // "VCF_CUTOFF"
        friend bool operator==(const Entry&, const Entry&) = default;
    };
    std::vector<Entry> Entries() const;

    // Binds the controller a settings-file line names, or lets it go when the value is
    // empty ("CC74="), which is how a file says that a default controller moves nothing.
    // A broken line changes nothing and says why. Keys ignore letter case as every
    // settings-file key does.
    Status ReadEntry(std::string_view key, std::string_view value);
    // The controller a settings-file key names ("CC74", "cc74", "AT"), if it names one.
    static std::optional<int> ControllerOfKey(std::string_view key);
    // The key of the controller's line: "CC74", or "AT" for aftertouch.
    static std::string KeyOf(int controller);
    // The value of the controller's line: the slider's key, or empty when it moves nothing.
    std::string EntryValue(int controller) const;

    friend bool operator==(const ControllerBindings&, const ControllerBindings&) = default;

private:
    static constexpr std::int8_t kUnbound = -1;
    std::array<std::int8_t, kBindingSourceCount> controls_; // a ControlId, or kUnbound
};

// Why a control cannot follow a controller, for the messages of Bind and MIDI learn.
std::string NotASlider(ControlId id);

} // namespace morvane
