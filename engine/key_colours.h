#pragma once

#include <bitset>

#include "engine/keymap.h"

namespace morvane {

// A set of the instrument's keys, by key index.
using KeySet = std::bitset<kKeyCount>;

// How the faces of the on-screen key buttons change through one operation of the engine:
// the keys that now sound turn red, the keys that no longer sound go back to rest.
struct KeyColourChanges {
    KeySet Sounding;
    KeySet Resting;
};

// The face of a key's on-screen button: red while its note sounds, its resting colour
// otherwise. The on-screen keyboard implements it; the engine itself never calls it.
class KeyColourListener {
public:
    virtual ~KeyColourListener() = default;
    virtual void SetKeyColour(int key, bool pressed) = 0;
};

// Tells the keys of each change, those going back to rest first: a stolen voice's key
// rests before the key that took the voice lights up.
void ShowKeyColours(const KeyColourChanges& changes, KeyColourListener& keys);

} // namespace morvane
