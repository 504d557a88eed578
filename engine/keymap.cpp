#include "engine/keymap.h"

namespace morvane {

const std::array<TKeyTable, kKeyCount> KeyTable = {{
    {0, 1, 8, 0x41, kCodeLabel},      // A
    {0, 0, 9, 0x5A, kCodeLabel},      // Z
    {0, 1, 10, 0x53, kCodeLabel},     // S
    {0, 0, 11, 0x58, kCodeLabel},     // X
    {0, 0, 12, 0x43, kCodeLabel},     // C
    {0, 1, 13, 0x46, kCodeLabel},     // F
    {0, 0, 14, 0x56, kCodeLabel},     // V
    {0, 1, 15, 0x47, kCodeLabel},     // G
    {0, 0, 16, 0x42, kCodeLabel},     // B
    {0, 0, 17, 0x4E, kCodeLabel},     // N
    {0, 1, 18, 0x4A, kCodeLabel},     // J
    {0, 0, 19, 0x4D, kCodeLabel},     // M
    {0, 1, 20, 0x4B, kCodeLabel},     // K
    {0, 0, 21, 0xBC, ","},            // VK_OEM_COMMA
    {0, 1, 22, 0x4C, kCodeLabel},     // L
    {0, 0, 23, 0xBE, "."},            // VK_OEM_PERIOD
    {0, 0, 24, 0xBF, "/"},            // VK_OEM_2
    {0, 1, 25, 0xBA, ":"},            // VK_OEM_1
    {0, 0, 26, 0xE2, "\xEF\xBC\xBC"}, // VK_OEM_102, full-width reverse solidus
    {0, 1, 27, 0xDD, "]"},            // VK_OEM_6
    {1, 1, 20, 0x31, kCodeLabel},     // 1
    {1, 0, 21, 0x51, kCodeLabel},     // Q
    {1, 1, 22, 0x32, kCodeLabel},     // 2
    {1, 0, 23, 0x57, kCodeLabel},     // W
    {1, 0, 24, 0x45, kCodeLabel},     // E
    {1, 1, 25, 0x34, kCodeLabel},     // 4
    {1, 0, 26, 0x52, kCodeLabel},     // R
    {1, 1, 27, 0x35, kCodeLabel},     // 5
    {1, 0, 28, 0x54, kCodeLabel},     // T
    {1, 0, 29, 0x59, kCodeLabel},     // Y
    {1, 1, 30, 0x37, kCodeLabel},     // 7
    {1, 0, 31, 0x55, kCodeLabel},     // U
    {1, 1, 32, 0x38, kCodeLabel},     // 8
    {1, 0, 33, 0x49, kCodeLabel},     // I
    {1, 1, 34, 0x39, kCodeLabel},     // 9
    {1, 0, 35, 0x4F, kCodeLabel},     // O
    {1, 0, 36, 0x50, kCodeLabel},     // P
    {1, 1, 37, 0xBD, "-"},            // VK_OEM_MINUS
    {1, 0, 38, 0xC0, "@"},            // VK_OEM_3
    {1, 1, 39, 0xDE, "^"},            // VK_OEM_7
    {1, 0, 40, 0xDB, "["},            // VK_OEM_4
}};

const TKeyTable& KeyAt(int key) {
    return KeyTable[static_cast<std::size_t>(key)];
}

int SemitoneOfKey(int key) {
    return key < kKeyCount ? KeyAt(key).Semitone : key - kKeyCount - kNoteOfSemitoneZero;
}

std::string KeyCaption(int key) {
    const TKeyTable& row = KeyAt(key);
    if (row.Label[0] == '\0')
        return std::string(1, static_cast<char>(row.VirtualKey));
    return row.Label;
}

std::optional<int> KeyForVirtualKey(int virtualKey) {
    for (int key = 0; key < kKeyCount; ++key) {
        if (KeyTable[key].VirtualKey == virtualKey)
            return key;
    }
    return std::nullopt;
}

} // namespace morvane
