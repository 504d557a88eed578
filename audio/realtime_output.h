#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "audio/output_health.h"
#include "audio/realtime_player.h"
#include "base/result.h"

namespace morvane {

enum class AudioApi {
    Auto,      // a running JACK server, else a PipeWire server, else PortAudio
    PortAudio, // the default output device
    Jack,      // a JACK client, "Morvane:out" and "Morvane:midi_in"
    PipeWire,  // a PipeWire stream, node "Morvane"
};

struct RealtimeOutputOptions {
    AudioApi api = AudioApi::Auto;
    // JACK: join "out" to the first two physical playback ports. PipeWire: let the
    // session manager join the stream to the default output.
    bool connect = true;
    // JACK: the client's name; a session manager gives each of its clients one.
    std::string jackClientName = "Morvane";
    // JACK: a "midi_in" port for keyboards and sequencers. A player of a written score
    // takes no MIDI and opens none.
    bool midiInput = true;
    // The buffer asked of PortAudio (its suggested latency) or PipeWire (its quantum);
    // 0 for the interface's own default below. JACK's server sets its own.
    double bufferSeconds = 0;
    // PortAudio: the frames of each callback; 0 for the low-latency mode's below.
    unsigned long framesPerBuffer = 0;
};

// PortAudio's buffer for the low-latency mode: 64 frames (2.9 ms) a callback and 20 ms
// of suggested latency, which PortAudio's ALSA layer makes a buffer of 512 frames (23 ms)
// in periods of one callback each. Through PulseAudio that buffer is the stream's length
// on the server, which asks for more from its main thread, a thread that is not
// real-time, each time a period has played: the stream runs dry once a request is held
// up longer than what the server still has, the buffer less the period asked for and the
// period its sink reads ahead, 17 ms here, where PortAudio's own four periods of 128
// frames left 12 ms. Measured on a two-core machine with both cores busy, a chord held a
// minute: the dry spells of 254 samples that came in about one run of seven with 128-frame
// periods did not come in ten runs; a key reached the sound server in 25.4 ms (median)
// against 24.9 ms. The engine's 441-sample blocks need not match the device's buffers:
// the player carries the rest of a block over to the next callback.
inline constexpr unsigned long kLowFramesPerBuffer = 64;
inline constexpr double kLowSuggestedLatencySeconds = 0.020;
// PipeWire's quantum for the low-latency mode: 256 frames at 48000 Hz (5.3 ms), at any
// graph rate; a desktop's server allows down to 32. The graph runs at the smallest
// quantum any of its nodes asks for, so asking for less would cost every other client.
inline constexpr double kPipeWireQuantumSeconds = 256.0 / 48000;
// Where a buffer that keeps underrunning stops growing: the classic mode's lead.
inline constexpr double kLargestBufferSeconds = 0.100;

// A callback stream that pulls its samples from a RealtimePlayer: the device side of
// the low-latency mode. It plays silence until a player is attached and once the
// player has nothing more to render. The owner polls Loss from its own thread: when
// the sound server goes away the stream stops, and Loss says why, from then on.
class RealtimeOutput {
public:
    static Result<std::unique_ptr<RealtimeOutput>> Open(const RealtimeOutputOptions& options);
    virtual ~RealtimeOutput() = default;

    // The interface it plays through: never Auto.
    virtual AudioApi Api() const = 0;
    // The rate the device asks for; the player resamples to it.
    virtual int SampleRate() const = 0;
    virtual std::optional<Error> Loss() const = 0;
    // Callbacks that came too late for the device.
    virtual long Underruns() const = 0;
    // A JACK client with a MIDI port takes MIDI there, read in its callback.
    virtual bool TakesMidi() const { return false; }
    virtual OutputHealth Health() const = 0;
    // The buffer asked for, or 0 where the server alone sets it (JACK).
    virtual double BufferSeconds() const { return 0; }
    // Asks for a larger buffer while the sound goes on, where the interface allows: PipeWire's
    // quantum, or a second PortAudio stream the player goes over to; every sample is heard,
    // after a silence at most as long as the latency added. False where only a new output
    // can have it.
    virtual bool GrowInPlace(double) { return false; }
    // Work the callback leaves to the owner's thread, which calls this now and then:
    // real-time scheduling for the callback's thread once a callback has named it.
    virtual void Tend() {}

    // From the next callback on the device plays the player, which must stay alive
    // until the output is destroyed.
    void Attach(RealtimePlayer& player) { player_.store(&player, std::memory_order_release); }
    // Whether everything the player rendered has left the device: its end, then the
    // device's own latency. A lost device has nothing more to play.
    bool Heard() const;

protected:
    // Frames at the device rate between a sample handed to the device and its sound.
    virtual int LatencyFrames() const = 0;
    template <typename Sample> void Pull(Sample* out, int frames) noexcept;
    // The same for a device that brings MIDI in its period; dropped while no player is
    // attached.
    void Pull(float* out, int frames, PeriodMidi& midi) noexcept;

private:
    std::atomic<RealtimePlayer*> player_{nullptr};
};

} // namespace morvane
