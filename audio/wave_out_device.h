#pragma once

#include <chrono>
#include <cstdint>

#include "audio/output_health.h"
#include "base/result.h"

namespace morvane {

// One buffer of the ring as the device sees it. The owner sets Data and BufferLength
// once; the device keeps Prepared and Queued up to date.
struct WaveHeader {
    std::int16_t* Data = nullptr;
    int BufferLength = 0; // bytes
    bool Prepared = false;
    bool Queued = false;
};

// Receives one completion per queued buffer, on the owner's thread, in the order the
// buffers were queued, and hears when the device goes away and comes back.
class CompletionListener {
public:
    virtual void WaveOutDone(WaveHeader& finished) = 0;
    // The device went away and could not be opened again at once. It has stopped
    // playing; every queued buffer comes back after this call, and writes fail until
    // WaveOutBack.
    virtual void WaveOutLost(const Error& reason) = 0;
    // The device plays again, with nothing queued. It comes only after the completion of
    // every buffer that the loss sent back.
    virtual void WaveOutBack() = 0;

protected:
    ~CompletionListener() = default;
};

// A wave-output device for 22050 Hz mono 16-bit PCM that plays queued buffers in queue
// order. Every call that can fail says so, with the audio library's own reason where it
// gives one; a failed call changes nothing.
class WaveOutDevice {
public:
    virtual ~WaveOutDevice() = default;

    virtual Status Open(CompletionListener& listener) = 0;
    virtual Status Prepare(WaveHeader& header) = 0;
    // Queues the prepared buffer behind those already queued.
    virtual Status Write(WaveHeader& header) = 0;
    // Fails while the buffer is still queued.
    virtual Status Unprepare(WaveHeader& header) = 0;
    // Stops playing and sends every queued buffer back, each with its completion, in
    // queue order. The completions arrive later, like any other.
    virtual void Reset() = 0;
    virtual void Close() = 0;

    // For an owner without an event loop: waits up to timeout for at least one
    // completion, then delivers every completion that has arrived.
    virtual void AwaitCompletions(std::chrono::milliseconds timeout) = 0;
    // Returns once every sample handed to the device so far has been played out.
    virtual void WaitUntilHeard() = 0;
    // The device's figures for the About box, where it has any.
    virtual std::optional<OutputHealth> Health() const { return std::nullopt; }
};

} // namespace morvane
