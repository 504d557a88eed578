#include "midi/versioned_bindings.h"

#include <charconv>
#include <cstring>

#include "base/ascii.h"

namespace morvane {

namespace {

// Appends to a fixed buffer, keeping room for the terminating zero; fails for good once
// something did not fit.
class FixedText {
public:
    explicit FixedText(std::span<char> out) : out_(out) {}

    void Add(std::string_view text) noexcept {
        if (!fits_ || out_.size() - used_ <= text.size()) {
            fits_ = false;
            return;
        }
        std::memcpy(out_.data() + used_, text.data(), text.size());
        used_ += text.size();
    }

    void AddNumber(int number) noexcept {
        char digits[12];
        const auto [end, error] = std::to_chars(digits, digits + sizeof digits, number);
        Add(std::string_view(digits, static_cast<std::size_t>(end - digits)));
    }

    std::size_t Finish() noexcept {
        if (!fits_ || out_.empty())
            return 0;
        out_[used_] = '\0';
        return used_;
    }

private:
    std::span<char> out_;
    std::size_t used_ = 0;
    bool fits_ = true;
};

} // namespace

// The lines go in ascending controller order, and read from the defaults in that order they
// give the bindings back: a controller's line can only take its slider from a controller
// whose own binding differs too, and so has a line of its own.
std::size_t WriteVersionedBindings(const ControllerBindings& bindings,
                                   std::span<char> out) noexcept {
    FixedText text(out);
    text.Add(kVersionedBindingsHeader);
    text.Add("\n");
    const ControllerBindings defaults = ControllerBindings::Defaults();
    for (int controller = 0; controller < kBindingSourceCount; ++controller) {
        const std::optional<ControlId> id = bindings.ControlFor(controller);
        if (id == defaults.ControlFor(controller))
            continue;
        if (controller == kAftertouch) {
            text.Add("AT=");
        } else {
            text.Add("CC");
            text.AddNumber(controller);
            text.Add("=");
        }
        if (id)
            text.Add(Describe(*id).key);
        text.Add("\n");
    }
    return text.Finish();
}

std::string VersionedBindings(const ControllerBindings& bindings) {
    std::string text(kVersionedBindingsCapacity, '\0');
    text.resize(WriteVersionedBindings(bindings, text));
    return text;
}

Result<ControllerBindings> ReadVersionedBindings(std::string_view text,
                                                 const SkippedTextLine& skipped) {
    const std::size_t firstEnd = text.find('\n');
    const std::string_view first = Trimmed(text.substr(0, firstEnd));
    if (first != kVersionedBindingsHeader)
        return Error{"the bindings begin \"" + Excerpt(first) + "\", not \"" +
                     std::string(kVersionedBindingsHeader) + "\""};
    ControllerBindings bindings = ControllerBindings::Defaults();
    std::string_view rest = firstEnd == std::string_view::npos ? "" : text.substr(firstEnd + 1);
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? "" : rest.substr(end + 1);
        if (Trimmed(line).empty())
            continue;
        const std::size_t equals = line.find('=');
        const Status read =
            equals == std::string_view::npos
                ? Status(Error{"a binding is CC<n>=<slider> or AT=<slider>"})
                : bindings.ReadEntry(line.substr(0, equals), line.substr(equals + 1));
        if (!read && skipped)
            skipped(line, read.error().message);
    }
    return bindings;
}

} // namespace morvane
