#pragma once

#include "midi/midi_message.h"

namespace morvane {

// What an audio callback pulls its samples from: the real-time core's renderer, or a
// test's signal. Render is called on the sound server's real-time thread, once per
// period, and must fill all of out (frames samples, mono, full scale at ±1.0) without
// locking, allocating, logging or making a system call: anything that waits there is
// heard as a gap.
class SampleSource {
public:
    virtual void Render(float* out, int frames) noexcept = 0;
    // A MIDI message that came at a frame of the period the next Render fills; sources
    // that play no MIDI drop it. Called on the same thread, before that Render.
    virtual void ReceiveMidi(const MidiMessage&, int) noexcept {}

protected:
    ~SampleSource() = default;
};

} // namespace morvane
