#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

// Letter case of names in files and on command lines. Only ASCII letters fold: the texts
// are 8-bit, and a byte from 0x80 up may be half of a double-byte character.
namespace morvane {

constexpr char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string AsciiLowered(std::string_view text) {
    std::string lower(text);
    std::ranges::transform(lower, lower.begin(), AsciiLower);
    return lower;
}

constexpr bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

constexpr bool EndsWithIgnoringAsciiCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           EqualsIgnoringAsciiCase(text.substr(text.size() - suffix.size()), suffix);
}

// A value in a settings line without the blanks around it; a line ending CR LF loses its
// CR here too.
constexpr std::string_view Trimmed(std::string_view text) {
    constexpr std::string_view kBlank = " \t\r";
    const std::size_t first = text.find_first_not_of(kBlank);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlank) - first + 1);
}

// Text from the input as a message shows it: at most kLongestExcerpt bytes of it, "..."
// after a cut, and every byte outside printable ASCII as \xNN, so that a line of
// megabytes or of binary bytes neither floods nor garbles the terminal.
inline constexpr std::size_t kLongestExcerpt = 64;
std::string Excerpt(std::string_view text);

} // namespace morvane
