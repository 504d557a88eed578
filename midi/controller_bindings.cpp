#include "midi/controller_bindings.h"

#include <algorithm>
#include <charconv>

#include "base/ascii.h"

namespace morvane {

namespace {

constexpr std::string_view kKeyPrefix = "CC";
constexpr std::string_view kAftertouchKey = "AT";

bool IsLetterCaseOf(char c, char upper) {
    return c == upper || c == upper - 'A' + 'a';
}

// Built by appending: GCC 12 warns falsely (-Wrestrict) of a literal added to a string.
std::string Quoted(std::string_view text) {
    std::string quoted = "\"";
    quoted += text;
    quoted += '"';
    return quoted;
}

// "CC<n>" with n a decimal 0..127, or "AT", in any letter case.
std::optional<int> ParseControllerKey(std::string_view key) {
    if (key.size() == kAftertouchKey.size() && IsLetterCaseOf(key[0], 'A') &&
        IsLetterCaseOf(key[1], 'T'))
        return kAftertouch;
    if (key.size() <= kKeyPrefix.size() || !IsLetterCaseOf(key[0], 'C') ||
        !IsLetterCaseOf(key[1], 'C'))
        return std::nullopt;
    const std::string_view digits = key.substr(kKeyPrefix.size());
    int controller = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), controller);
    if (error != std::errc{} || end != digits.data() + digits.size() || controller < 0 ||
        controller >= kControllerCount)
        return std::nullopt;
    return controller;
}

} // namespace

std::string NotASlider(ControlId id) {
    if (id < 0 || id >= kControlCount)
        return "control " + std::to_string(static_cast<int>(id)) + " does not exist";
    return std::string(Describe(id).key) + " is not a slider";
}

ControllerBindings::ControllerBindings() {
    controls_.fill(kUnbound);
}

ControllerBindings ControllerBindings::Defaults() {
    ControllerBindings bindings;
    bindings.controls_[74] = VcfCutoff;
    bindings.controls_[71] = VcfResonance;
    bindings.controls_[73] = EnvAttack;
    bindings.controls_[75] = EnvDecay;
    bindings.controls_[72] = EnvRelease;
    return bindings;
}

bool ControllerBindings::Learnable(int controller) {
    constexpr std::array kReserved = {0, 1, 6, 32, 38, 64};
    if (controller == kAftertouch)
        return true;
    if (controller < 0 || controller >= kControllerCount)
        return false;
    if (std::ranges::find(kReserved, controller) != kReserved.end())
        return false;
    const bool parameterNumbers = controller >= 96 && controller <= 101;
    const bool channelMode = controller >= 120;
    return !parameterNumbers && !channelMode;
}

bool ControllerBindings::Bindable(ControlId id) {
    return id >= 0 && id < kControlCount && Describe(id).kind == ControlKind::Slider;
}

Status ControllerBindings::Bind(int controller, ControlId id) {
    if (!Learnable(controller))
        return Error{"controller " + std::to_string(controller) + " cannot be bound"};
    if (!Bindable(id))
        return Error{NotASlider(id)};
    Unbind(id);
    controls_[controller] = static_cast<std::int8_t>(id);
    return {};
}

void ControllerBindings::Unbind(ControlId id) {
    std::ranges::replace(controls_, static_cast<std::int8_t>(id), kUnbound);
}

std::optional<ControlId> ControllerBindings::ControlFor(int controller) const {
    if (controller < 0 || controller >= kBindingSourceCount || controls_[controller] == kUnbound)
        return std::nullopt;
    return static_cast<ControlId>(controls_[controller]);
}

std::optional<int> ControllerBindings::ControllerFor(ControlId id) const {
    const auto found = std::ranges::find(controls_, static_cast<std::int8_t>(id));
    if (found == controls_.end())
        return std::nullopt;
    return static_cast<int>(found - controls_.begin());
}

std::vector<ControllerBindings::Entry> ControllerBindings::Entries() const {
    std::vector<Entry> entries;
    for (int controller = 0; controller < kBindingSourceCount; ++controller) {
        if (const auto id = ControlFor(controller))
            entries.push_back({KeyOf(controller), Describe(*id).key});
    }
    return entries;
}

Status ControllerBindings::ReadEntry(std::string_view key, std::string_view value) {
    const std::optional<int> controller = ParseControllerKey(Trimmed(key));
    if (!controller)
        return Error{Quoted(key) + " is not a controller (CC0..CC127 or AT)"};
    if (Trimmed(value).empty()) {
        controls_[*controller] = kUnbound;
        return {};
    }
    const std::optional<ControlId> id = FindControl(Trimmed(value));
    if (!id)
        return Error{Quoted(value) + " is not a control"};
    return Bind(*controller, *id);
}

std::optional<int> ControllerBindings::ControllerOfKey(std::string_view key) {
    return ParseControllerKey(Trimmed(key));
}

std::string ControllerBindings::KeyOf(int controller) {
    if (controller == kAftertouch)
        return std::string(kAftertouchKey);
    return std::string(kKeyPrefix) + std::to_string(controller);
}

std::string ControllerBindings::EntryValue(int controller) const {
    const std::optional<ControlId> id = ControlFor(controller);
    return id ? Describe(*id).key : "";
}

} // namespace morvane
