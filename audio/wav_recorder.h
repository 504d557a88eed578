#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "audio/error_reporter.h"
#include "base/result.h"
#include "engine/synth_state.h"

namespace morvane {

inline constexpr int kBlockBytes = kBlockSamples * static_cast<int>(sizeof(std::int16_t));

// 10 minutes of 20 ms blocks: the block that reaches it is the last one in the file.
inline constexpr int kMaxRecordedBlocks = 30000;
inline constexpr int kWavHeaderBytes = 46;

// The header of a recording holding dataBytes bytes of samples: RIFF, WAVE, an 18-byte
// "fmt " chunk for mono 16-bit PCM at sampleRate (the engine's 22050 Hz unless a render
// was resampled) with extra size 0, then "data".
std::array<std::uint8_t, kWavHeaderBytes> WavHeader(std::uint32_t dataBytes,
                                                    std::uint32_t sampleRate = kSampleRate);

// Records what the engine plays into "yyyymmdd-hhnnss.wav" (the local time of the start)
// in a given directory: a RIFF/WAVE file of 22050 Hz mono 16-bit PCM whose header is
// exactly 46 bytes. While recording, the header's sizes are brought up to date and the
// file synced about once a second, so a crash leaves a readable file lacking at most the
// last second; a stopped recording has both sizes exact.
class WavRecorder {
public:
    // Opens the file for writing, creating or emptying it; -1 when that fails.
    using FileOpener = std::function<int(const std::string& path)>;
    using Clock = std::function<std::time_t()>;
    // Told true when a recording starts and false when it stops, whatever stopped it.
    using RecordingListener = std::function<void(bool recording)>;

    WavRecorder(std::string directory, ErrorReporter& errors);
    WavRecorder(const WavRecorder&) = delete;
    WavRecorder& operator=(const WavRecorder&) = delete;
    ~WavRecorder();

    void SetRecordingListener(RecordingListener listener) { listener_ = std::move(listener); }
    void SetFileOpener(FileOpener opener) { opener_ = std::move(opener); }
    void SetClock(Clock clock) { clock_ = std::move(clock); }

    // The message for the user when the file cannot be created. Failures once the
    // recording runs come later, from the audio path, and go to the error reporter.
    Status StartRecording();
    // Appends one block of kBlockSamples samples; stops at kMaxRecordedBlocks, and when
    // the write fails (the user is told).
    void RecordBlock(const std::int16_t* block);
    // Finishes the header and closes the file; nothing happens when not recording.
    void StopRecording();

    bool Recording() const { return file_ >= 0; }
    int RecordedBlocks() const { return recordedBlocks_; }
    // The full name of the current or last recording.
    const std::string& FilePath() const { return path_; }

private:
    std::string FileNameFor(std::time_t start) const;
    // Writes the data size of the blocks recorded so far, and the RIFF size with it.
    bool WriteSizes();
    bool SyncAndWriteSizes();
    void StopAfterFailure();
    // Writes the final sizes and closes the file; false when the file may be incomplete.
    bool Finish();
    void ReportWriteFailure();

    std::string directory_;
    ErrorReporter& errors_;
    RecordingListener listener_;
    FileOpener opener_;
    Clock clock_;
    std::string path_;
    int file_ = -1;
    int recordedBlocks_ = 0;
};

} // namespace morvane
