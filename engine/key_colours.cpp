#include "engine/key_colours.h"

namespace morvane {

void ShowKeyColours(const KeyColourChanges& changes, KeyColourListener& keys) {
    for (int key = 0; key < kKeyCount; ++key) {
        if (changes.Resting[key])
            keys.SetKeyColour(key, false);
    }
    for (int key = 0; key < kKeyCount; ++key) {
        if (changes.Sounding[key])
            keys.SetKeyColour(key, true);
    }
}

} // namespace morvane
