#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/result.h"

// The MIDI sources present on the system that the program's MIDI input can be connected
// to: JACK's MIDI output ports when the sound goes through JACK, else the ALSA sequencer's
// readable ports. Listing and connecting happen on the caller's thread (the window's),
// never on the audio thread; a source is named as the server names it ("client:port").
namespace morvane {

class MidiSources {
public:
    virtual ~MidiSources() = default;

    // The sources present now, in the server's order; the program's own ports are left out.
    virtual std::vector<std::string> List() = 0;
    virtual bool Connected(const std::string& source) = 0;
    // Connecting a source already connected, or letting go of one that is not, succeeds.
    virtual Status Connect(const std::string& source) = 0;
    virtual Status Disconnect(const std::string& source) = 0;
    // The server went away: a new list is to be opened once it is back.
    virtual bool Lost() const { return false; }
};

// A JACK client of its own (without starting a server) that connects sources to the
// program's port, e.g. "Morvane:midi_in".
Result<std::unique_ptr<MidiSources>> OpenJackMidiSources(const std::string& destination);

// A sequencer client of its own that connects sources to the program's port, the sequencer
// port kPortName of the client kClientName (SequencerInput's); fails where there is no
// sequencer.
Result<std::unique_ptr<MidiSources>> OpenSequencerMidiSources();

} // namespace morvane
