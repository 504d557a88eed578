#pragma once

#include <optional>

#include "midi/midi_message.h"

namespace morvane {

// A message of the period with the frame it came at, counted from the period's start.
struct PeriodMessage {
    MidiMessage message;
    int frame = 0;
};

// The MIDI channel messages of the period a Render fills, in the order they came, read
// where the sender left them (a JACK port's buffer, a host's event sequence) as the
// Render walks through the period: however many came, none has to wait in a queue of
// fixed size, so none is ever dropped.
class PeriodMidi {
public:
    // The next message that came at or before frame of the period, or nothing while the
    // next one lies later (or none is left).
    virtual std::optional<PeriodMessage> NextUpTo(int frame) noexcept = 0;

protected:
    ~PeriodMidi() = default;
};

// What an audio callback pulls its samples from: the real-time core's renderer, or a
// test's signal. Render is called on the sound server's real-time thread, once per
// period, and must fill all of out (frames samples, mono, full scale at ±1.0) without
// locking, allocating, logging or making a system call: anything that waits there is
// heard as a gap. It is handed the period's MIDI; sources that play no MIDI leave it.
class SampleSource {
public:
    virtual void Render(float* out, int frames, PeriodMidi& midi) noexcept = 0;

protected:
    ~SampleSource() = default;
};

} // namespace morvane
