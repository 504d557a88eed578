#pragma once

#include <functional>
#include <memory>

#include "base/result.h"
#include "midi/midi_message.h"

class RtMidiIn;

namespace morvane {

// The ALSA sequencer's way in, for when the sound does not go through JACK: a client
// "Morvane" with one writable port, "MIDI In", that keyboards and sequencers connect to
// (Morvane connects nothing itself). Each whole channel message goes to the receiver on
// the sequencer's own thread.
class SequencerInput {
public:
    using Receiver = std::function<void(const MidiMessage& message)>;

    static constexpr const char* kClientName = "Morvane";
    static constexpr const char* kPortName = "MIDI In";

    // Fails where there is no sequencer (no /dev/snd/seq, as in containers).
    static Result<std::unique_ptr<SequencerInput>> Open(Receiver receiver);
    ~SequencerInput();
    SequencerInput(const SequencerInput&) = delete;
    SequencerInput& operator=(const SequencerInput&) = delete;

private:
    explicit SequencerInput(Receiver receiver);

    Receiver receiver_;
    std::unique_ptr<RtMidiIn> input_;
};

} // namespace morvane
