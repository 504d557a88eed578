#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

#include "audio/error_reporter.h"
#include "audio/wav_recorder.h"
#include "audio/wave_out_device.h"

namespace morvane {

inline constexpr int kBufferCount = 51;
inline constexpr int kPrimeCount = 26;
inline constexpr int kMaxInFlight = 5;
// Two spare bytes per buffer, as the data areas have always had.
inline constexpr int kDataAreaBytes = 884;

inline constexpr const char* kOpenError = "Problem creating play handle";
inline constexpr const char* kPrepareError = "Out Prepare error";
inline constexpr const char* kWriteError = "Wave out error";
inline constexpr const char* kUnprepareError = "Out Un Prepare error";
// Recording takes the blocks on their way to the device: without one nothing is rendered.
inline constexpr const char* kNoDeviceToRecord = "No sound device: nothing can be recorded";

// The fixed message says which step failed; the device's reason, where it gives one,
// says why.
std::string WithReason(const char* failure, const Error& reason);

// Fills one block of kBlockSamples samples. Returns false when there is nothing more to
// play: the stream then drains as on a close, but lets the queued buffers play out.
class BlockSource {
public:
    virtual bool RenderInto(std::int16_t* block) = 0;

protected:
    ~BlockSource() = default;
};

// The owner of the stream, asked to close once the last buffer has come back while
// closing. It may close at once, from inside the call; it must not destroy the WaveOut
// there, since the completion that asked still holds the AudioLock.
class WaveOutOwner {
public:
    virtual void RequestClose() = 0;

protected:
    ~WaveOutOwner() = default;
};

// Streams rendered blocks to a wave-output device through a ring of kBufferCount
// buffers, keeping kMaxInFlight queued, and carries out the close handshake: the owner
// may close only when the device has returned every buffer. A device that goes away is
// reported once; the stream then waits, and when the device is back the ring starts
// again as when it was opened. Every call runs on the owner's thread, completions
// included.
class WaveOut : private CompletionListener {
public:
    WaveOut(WaveOutDevice& device, BlockSource& source, ErrorReporter& errors, WaveOutOwner& owner);
    WaveOut(const WaveOut&) = delete;
    WaveOut& operator=(const WaveOut&) = delete;

    // Every rendered block goes to the recorder while it records.
    void SetRecorder(WavRecorder* recorder) { recorder_ = recorder; }

    // Opens the device and queues kPrimeCount silent buffers. True when all were queued:
    // only then may the owner start its stuck-key sweep.
    bool OpenOutput();
    // The close request: resets the device, stops rendering and answers whether the
    // owner may close now.
    bool CloseQuery();
    // Once the close was granted: stops the recording and releases the device.
    void Close();
    // Whether a recording would get the blocks: only while a device plays them.
    Status ReadyToRecord() const;

    // Taken by every voice operation of the owner; held by the completion handler for a
    // whole block.
    std::recursive_mutex& AudioLock() { return audioLock_; }

    int CurrentBuffer() const { return currentBuffer_; }
    int BuffersInFlight() const { return buffersInFlight_; }
    bool Closing() const { return closing_; }
    bool CloseAllowed() const { return closeAllowed_; }
    const WaveHeader& Header(int buffer) const { return headers_[buffer]; }

private:
    void WaveOutDone(WaveHeader& finished) override;
    void WaveOutLost(const Error& reason) override;
    void WaveOutBack() override;
    // Queues kPrimeCount silent buffers from the start of the ring. True when all were
    // queued.
    bool Prime();
    // Renders, records and queues the current buffer. False when it was not queued.
    bool QueueCurrentBuffer();
    Status PrepareAndWrite(WaveHeader& header);
    void Advance();

    WaveOutDevice& device_;
    BlockSource& source_;
    ErrorReporter& errors_;
    WaveOutOwner& owner_;
    WavRecorder* recorder_ = nullptr;

    std::recursive_mutex audioLock_;
    std::array<WaveHeader, kBufferCount> headers_{};
    std::array<std::array<std::int16_t, kDataAreaBytes / sizeof(std::int16_t)>, kBufferCount>
        dataAreas_{};
    bool open_ = false;
    // The device went away: completions only come home, nothing is queued until it is
    // back.
    bool lost_ = false;
    // Set by Close: a completion the device still hands back afterwards touches nothing.
    bool closed_ = false;
    int currentBuffer_ = 0;
    int buffersInFlight_ = 0;
    bool closing_ = false;
    bool closeAllowed_ = false;
};

} // namespace morvane
