#pragma once

#include <array>
#include <optional>
#include <string>

// The instrument's 41 keys: two piano rows laid over the letter and digit rows of a
// Japanese (JIS) keyboard. Everything else names a key by its index into this table.
namespace morvane {

inline constexpr int kKeyCount = 41;

// A MIDI note without a key of the keyboard (outside 44..76) still gets a voice of its own:
// the voice pool and the renderers know it by the key number kKeyCount + note, which has no
// row in the table and no on-screen button.
inline constexpr int kMidiNoteCount = 128;
inline constexpr int kVoiceKeyCount = kKeyCount + kMidiNoteCount;
// MIDI note n sounds semitone n - 36, so that note 69 is A at 440 Hz with the octave
// switches at MID and the keys' semitones 8..40 are notes 44..76.
inline constexpr int kNoteOfSemitoneZero = 36;

constexpr int KeylessNoteKey(int note) {
    return kKeyCount + note;
}

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

// The semitone a voice key sounds: a key's from the table, a keyless note's its own.
// key is 0..kVoiceKeyCount-1, unchecked, as for KeyAt.
int SemitoneOfKey(int key);

// The caption of the key's on-screen button, UTF-8.
std::string KeyCaption(int key);

// The first row whose VirtualKey equals the code; nothing for a key without a row.
std::optional<int> KeyForVirtualKey(int virtualKey);

} // namespace morvane
