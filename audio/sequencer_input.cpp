#include "audio/sequencer_input.h"

#include <RtMidi.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "audio/realtime_player.h"
#include "audio/silenced_stderr.h"
#include "midi/midi_message.h"

namespace morvane {

// A full queue empties at the pace of the blocks, one every 20 ms; waiting a
// millisecond at a time costs the sequencer's thread nothing and the message little.
void SequencerFeed::Receive(std::span<const unsigned char> bytes) {
    if (bytes.empty() || bytes.size() > 3 || !IsChannelStatus(bytes[0]))
        return;
    MidiMessage message;
    std::copy(bytes.begin(), bytes.end(), message.bytes.begin());
    message.size = static_cast<std::uint8_t>(bytes.size());
    while (!player_.SendSequencerMidi(message)) {
        if (!std::exchange(waitTold_, true))
            std::cerr << "morvane: MIDI came faster than the sound takes it; it is played a "
                         "moment late, and none of it is lost\n";
        if (closing_.load(std::memory_order_acquire))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

SequencerInput::SequencerInput(RealtimePlayer& player) : feed_(player) {}

// The sequencer's thread ends with the RtMidi object; a wait for room ends first.
SequencerInput::~SequencerInput() {
    feed_.Close();
    input_.reset();
}

// ALSA prints its own failure to open the sequencer on standard error; the returned
// reason says it once, in the program's words.
Result<std::unique_ptr<SequencerInput>> SequencerInput::Open(RealtimePlayer& player) {
    std::unique_ptr<SequencerInput> input(new SequencerInput(player));
    std::optional<Error> failure;
    RunWithStderrSilenced([&] {
        try {
            input->input_ = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, kClientName);
            input->input_->setCallback(
                [](double, std::vector<unsigned char>* bytes, void* feed) {
                    static_cast<SequencerFeed*>(feed)->Receive(*bytes);
                },
                &input->feed_);
            input->input_->openVirtualPort(kPortName);
        } catch (const RtMidiError& error) {
            failure = Error{"no ALSA sequencer for MIDI input: " + error.getMessage()};
        }
    });
    if (failure)
        return *failure;
    return input;
}

} // namespace morvane
