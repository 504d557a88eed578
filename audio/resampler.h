#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "base/result.h"

struct SpeexResamplerState_;

namespace morvane {

// Carries the engine's 22050 Hz mono stream to the rate a sound device runs at.
//
// - At 22050 Hz the samples pass through untouched: the int16 output is the input, the
//   float output is each sample divided by 32768, exactly. speexdsp is not involved.
// - At any other rate speexdsp's resampler runs at one fixed quality (kQuality). Its
//   output depends on the input stream alone, never on how the stream is cut into calls:
//   441-sample engine blocks or pieces that follow the device's buffers give the same
//   samples, run after run.
// - Process fills the output as far as the input allows and takes only the input that
//   needs; the caller offers the rest again next time. A real-time caller can so fill
//   exactly one device buffer per callback and carry the rest of an engine block over.
// - Input is the engine's int16. Output is float for JACK, or int16 for a PortAudio
//   stream: PortAudio's own conversion from float scales by 32767 and dithers unless
//   told not to, which would break the exact 22050 Hz path. Both outputs share one
//   internal scale, so they may even be mixed on one stream, and both keep to the range
//   of the engine's samples (-32768..32767, or that divided by 32768).
// - Nothing is allocated, locked or logged after Create: the audio callback calls it.
//   One stream per instance, used by one thread at a time.
class Resampler {
public:
    // speexdsp's "desktop" quality, an 80-tap windowed sinc. Measured at 44100 and
    // 48000 Hz: flat to 9 kHz, 3 dB down at 10.2 kHz of the engine's 11 kHz, images more
    // than 100 dB down, under the 96 dB floor of the int16 samples; 40 input samples
    // (1.8 ms) of delay. Higher qualities widen the passband by a few hundred hertz for up
    // to three times the taps and the delay; lower ones let images through above the floor.
    static constexpr int kQuality = 5;

    static Result<Resampler> Create(int deviceRate);

    struct Progress {
        int consumed = 0; // input samples taken
        int produced = 0; // output frames written
    };
    Progress Process(std::span<const std::int16_t> in, std::span<float> out) noexcept;
    Progress Process(std::span<const std::int16_t> in, std::span<std::int16_t> out) noexcept;

    int DeviceRate() const { return deviceRate_; }
    // How many output frames the output lags behind the input (0 at 22050 Hz): what a
    // host is told as latency. The end of a stream comes out only behind as much input
    // again; a silent block is plenty.
    int DelayFrames() const;

private:
    struct StateDeleter {
        void operator()(SpeexResamplerState_* state) const;
    };

    Resampler(int deviceRate, SpeexResamplerState_* state);

    int deviceRate_;
    std::unique_ptr<SpeexResamplerState_, StateDeleter> state_; // null when passing through
    // The float path converts its input here and takes speexdsp's output back here,
    // piece by piece; any size would do, since the output does not depend on the cut.
    std::array<float, 512> scratchIn_{};
    std::array<float, 1024> scratchOut_{};
};

} // namespace morvane
