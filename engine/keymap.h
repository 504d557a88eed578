#pragma once

#include <array>
#include <optional>
#include <string>

// The instrument's 41 keys: two piano rows laid over the letter and digit rows of a
// Japanese (JIS) keyboard. Everything else names a key by its index into this table.
namespace morvane {

inline constexpr int kKeyCount = 41;

struct TKeyTable {
    int Row;           // 0 lower row, 1 upper row
    int Black;         // 1 black key, 0 white key
    int Semitone;      // 12 = C; the renderers derive pitch and key tracking from it
    int VirtualKey;    // Windows-style virtual-key code of the computer key that plays it
    const char* Label; // UTF-8 caption, or kCodeLabel: "the character of VirtualKey"
};

// The empty caption (a lone character code 0) marks a key whose caption is the
// letter or digit of its virtual-key code.
inline constexpr const char kCodeLabel[] = "";

extern const std::array<TKeyTable, kKeyCount> KeyTable;

// key is 0..kKeyCount-1, unchecked: the renderers call it for every voice, whose keys
// NoteOn has checked.
const TKeyTable& KeyAt(int key);

// The caption of the key's on-screen button, UTF-8.
std::string KeyCaption(int key);

// The first row whose VirtualKey equals the code; nothing for a key without a row.
std::optional<int> KeyForVirtualKey(int virtualKey);

} // namespace morvane
