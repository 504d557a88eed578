#pragma once

#include <jack/types.h>

#include <array>
#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "audio/sample_source.h"
#include "base/result.h"

namespace morvane {

// Plays one mono stream as a JACK client.
//
// - The client is named "Morvane", or as its owner asks (JACK appends "-01" and so on while that
// name is taken;
//   ClientName says which it got) and has one audio output port, "out". Open activates
//   it and, when asked to connect, joins "out" to the first two physical playback ports,
//   so the mono sound reaches both sides of a stereo device. A MIDI input port,
//   "midi_in", takes what a keyboard or sequencer sends; Morvane joins it to nothing.
// - Open never starts a server: with none running it fails, giving JACK's reason.
// - The process callback fills "out" from the SampleSource, handing it the period's
//   MIDI channel messages as they lie in the port's buffer, on JACK's real-time thread,
//   and does nothing else. The source renders at the server's rate and period, which the
//   server chooses (SampleRate, BufferSize); a period may change size between calls.
// - When the server shuts down or drops the client, JACK says so on a thread of its own,
//   which only records it; the owner's thread polls ServerLoss whenever it likes.
// - Destroying the output closes the client; the source must outlive it.
class JackOutput {
public:
    static constexpr const char* kClientName = "Morvane";
    static constexpr const char* kPortName = "out";
    static constexpr const char* kMidiPortName = "midi_in";

    // Without midiInput the client has no MIDI port and the source is handed no MIDI.
    static Result<std::unique_ptr<JackOutput>> Open(SampleSource& source, bool connect,
                                                    const std::string& clientName = kClientName,
                                                    bool midiInput = true);
    ~JackOutput();
    JackOutput(const JackOutput&) = delete;
    JackOutput& operator=(const JackOutput&) = delete;

    std::string ClientName() const;
    // The port's full name, "Morvane:out" for the first client.
    std::string PortName() const;
    int SampleRate() const;
    int BufferSize() const;

    // Why the server let go of this client, once it has; the output is silent from then
    // on, and only a new Open plays again.
    std::optional<Error> ServerLoss() const;
    // The server's overruns and underruns since Open: periods it could not keep in time,
    // this client's or another's.
    long Xruns() const { return xruns_.load(); }

private:
    JackOutput(jack_client_t* client, SampleSource& source);
    Status ConnectToPlayback();

    static int Process(jack_nframes_t frames, void* self);
    static void ServerLost(jack_status_t code, const char* reason, void* self);
    static int Xrun(void* self);

    jack_client_t* client_;
    jack_port_t* port_ = nullptr;
    jack_port_t* midiPort_ = nullptr;
    SampleSource& source_;
    // Written once by JACK's thread before lost_ is set, read only after.
    std::array<char, 256> lossReason_{};
    std::atomic<bool> lost_{false};
    std::atomic<long> xruns_{0};
};

} // namespace morvane
