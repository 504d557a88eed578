#pragma once

#include <atomic>
#include <memory>
#include <span>

#include "base/result.h"

class RtMidiIn;

namespace morvane {

class RealtimePlayer;

// Hands the sequencer's messages to the player's own MIDI queue, on the sequencer's
// thread, so that a busy or blocked interface neither delays nor bunches them: each is
// stamped as it comes and applies a device period later, spaced as it came. What finds the queue
// full waits here, in order, until the player makes room: the sequencer keeps what comes meanwhile,
// and a note-off is never lost. The first wait is told on standard error.
class SequencerFeed {
public:
    explicit SequencerFeed(RealtimePlayer& player) : player_(player) {}

    // One message as the sequencer delivers it; all but whole channel messages are left.
    void Receive(std::span<const unsigned char> bytes);
    // Stops a wait for room, for the close: the player renders nothing more.
    void Close() { closing_.store(true, std::memory_order_release); }

private:
    RealtimePlayer& player_;
    std::atomic<bool> closing_{false};
    bool waitTold_ = false; // the sequencer's thread's own
};

// The ALSA sequencer's way in, for when the sound does not go through JACK: a client
// "Morvane" with one writable port, "MIDI In", that keyboards and sequencers connect to
// (Morvane connects nothing itself).
class SequencerInput {
public:
    static constexpr const char* kClientName = "Morvane";
    static constexpr const char* kPortName = "MIDI In";

    // Fails where there is no sequencer (no /dev/snd/seq, as in containers). The player
    // outlives the input.
    static Result<std::unique_ptr<SequencerInput>> Open(RealtimePlayer& player);
    ~SequencerInput();
    SequencerInput(const SequencerInput&) = delete;
    SequencerInput& operator=(const SequencerInput&) = delete;

private:
    explicit SequencerInput(RealtimePlayer& player);

    SequencerFeed feed_;
    std::unique_ptr<RtMidiIn> input_;
};

} // namespace morvane
