#include "base/ascii.h"

namespace morvane {

std::string Excerpt(std::string_view text) {
    constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::string shown;
    for (char c : text.substr(0, kLongestExcerpt)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            shown += c;
        } else {
            shown += "\\x";
            shown += kHexDigits[byte >> 4];
            shown += kHexDigits[byte & 0xF];
        }
    }
    if (text.size() > kLongestExcerpt)
        shown += "...";
    return shown;
}

} // namespace morvane
