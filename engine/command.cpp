#include "engine/command.h"

#include <algorithm>

#include "base/overloaded.h"
#include "engine/tuning.h"
#include "engine/voice_pool.h"

namespace morvane {

KeyColourChanges Instrument::Apply(const Command& command) {
    return std::visit(Overloaded{
                          [&](const KeyDown& c) {
                              const int velocity = std::clamp(c.velocity, 1, kFullVelocity);
                              return NoteOn(synth_, c.key, VelocityOf(synth_, velocity));
                          },
                          [&](const KeyUp& c) { return ReleaseNote(synth_, c.key); },
                          [&](const HoldLfo& c) {
                              ctrlHolds_ = c.held;
                              FollowLfoHolders();
                              return KeyColourChanges{};
                          },
                          [&](const ReleaseUnheld& c) { return Sweep(c); },
                          [&](const SetControl& c) {
                              const ControlDescription& d = Describe(c.id);
                              WriteControl(synth_, c.id,
                                           std::clamp(c.position, d.minimum, d.maximum));
                              return KeyColourChanges{};
                          },
                          [&](const SetTuning& c) {
                              ApplyTuning(synth_, c.tuning);
                              return KeyColourChanges{};
                          },
                          [&](const SetSound& c) {
                              static_cast<SoundParameters&>(synth_) = c.sound;
                              return KeyColourChanges{};
                          },
                          [&](const StorePreset& c) {
                              if (c.slot >= 0 && c.slot < kPresetSlotCount) {
                                  presets_[c.slot] = c.values;
                                  presetKnown_.set(c.slot);
                              }
                              return KeyColourChanges{};
                          },
                          [&](const MoveModWheel& c) {
                              wheel_ = std::clamp(c.value, 0, kFullWheelDepth);
                              wheelHolds_ = wheel_ > 0;
                              FollowLfoHolders();
                              return KeyColourChanges{};
                          },
                          [&](const BendPitch& c) {
                              synth_.PitchBend = std::clamp(c.bend, kLowestBend, kHighestBend);
                              return KeyColourChanges{};
                          },
                          [&](const SetPlaying& c) {
                              WritePlaying(synth_, c.control, c.value);
                              return KeyColourChanges{};
                          },
                          [&](const LoadProgram& c) {
                              if (c.slot >= 0 && c.slot < kPresetSlotCount && presetKnown_[c.slot])
                                  LoadPresetSound(synth_, presets_[c.slot]);
                              return KeyColourChanges{};
                          },
                      },
                      command);
}

// Either holder keeps the gate open: a release of one leaves it open while the other holds.
// The wheel sets the depth only while it holds the gate alone.
void Instrument::FollowLfoHolders() {
    synth_.CtrlHeld = ctrlHolds_ || wheelHolds_;
    FollowWheelDepth();
}

void Instrument::FollowWheelDepth() {
    synth_.WheelDepth = wheelHolds_ && !ctrlHolds_ ? wheel_ : kFullWheelDepth;
}

KeyColourChanges Instrument::Sweep(const ReleaseUnheld& sweep) {
    ctrlHolds_ = sweep.ctrlHeld;
    if (!ctrlHolds_ && !wheelHolds_)
        synth_.CtrlHeld = false;
    FollowWheelDepth();
    KeyColourChanges changes;
    // A release moves later voices forward, so the list is read anew at each position.
    for (int position = 0; position < kVoiceCount; ++position) {
        const int voice = synth_.VoiceOrder[position];
        if (voice == kNoVoice)
            continue;
        const int key = synth_.Voices[voice].Key;
        // Only keys of the keyboard can stick; a keyless note is MIDI's alone.
        if (key >= kKeyCount || sweep.keysHeld[key])
            continue;
        const KeyColourChanges released = ReleaseNote(synth_, key);
        changes.Resting |= released.Resting;
        changes.Sounding |= released.Sounding;
    }
    return changes;
}

} // namespace morvane
