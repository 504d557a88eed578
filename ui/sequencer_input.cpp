#include "ui/sequencer_input.h"

#include <RtMidi.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "audio/silenced_stderr.h"

namespace morvane {

SequencerInput::SequencerInput(Receiver receiver) : receiver_(std::move(receiver)) {}

SequencerInput::~SequencerInput() = default;

// ALSA prints its own failure to open the sequencer on standard error; the returned
// reason says it once, in the program's words.
Result<std::unique_ptr<SequencerInput>> SequencerInput::Open(Receiver receiver) {
    std::unique_ptr<SequencerInput> input(new SequencerInput(std::move(receiver)));
    std::optional<Error> failure;
    RunWithStderrSilenced([&] {
        try {
            input->input_ = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, kClientName);
            input->input_->setCallback(
                [](double, std::vector<unsigned char>* bytes, void* self) {
                    if (bytes->empty() || bytes->size() > 3 || !IsChannelStatus((*bytes)[0]))
                        return;
                    MidiMessage message;
                    std::copy(bytes->begin(), bytes->end(), message.bytes.begin());
                    message.size = static_cast<std::uint8_t>(bytes->size());
                    static_cast<SequencerInput*>(self)->receiver_(message);
                },
                input.get());
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
