#include "audio/resampler.h"

#include <speex/speex_resampler.h>

#include <algorithm>
#include <string>

#include "engine/synth_state.h"

namespace morvane {

namespace {

// Exact: every int16 is a float, and the division is by a power of two.
constexpr float kInt16ToFloat = 1.0f / 32768.0f;
// The range of the engine's own samples as floats. A loud, clipped stream rings over its
// samples' peaks once resampled (by a quarter for a full-scale square wave); the device
// gets no more than the engine's samples could give it, as the int16 output does.
constexpr float kLowestFloat = -32768 * kInt16ToFloat;
constexpr float kHighestFloat = 32767 * kInt16ToFloat;

} // namespace

void Resampler::StateDeleter::operator()(SpeexResamplerState_* state) const {
    speex_resampler_destroy(state);
}

Resampler::Resampler(int deviceRate, SpeexResamplerState_* state)
    : deviceRate_(deviceRate), state_(state) {}

Result<Resampler> Resampler::Create(int deviceRate) {
    if (deviceRate <= 0)
        return Error{"sample rate " + std::to_string(deviceRate) + " Hz is not a rate"};
    if (deviceRate == kSampleRate)
        return Resampler(deviceRate, nullptr);
    int err = RESAMPLER_ERR_SUCCESS;
    // The fraction is the two rates themselves, so the phase steps exactly (441 samples
    // in give 960 out at 48000 Hz, every block).
    SpeexResamplerState* state = speex_resampler_init_frac(1, kSampleRate, deviceRate, kSampleRate,
                                                           deviceRate, kQuality, &err);
    if (!state)
        return Error{"cannot resample from " + std::to_string(kSampleRate) + " Hz to " +
                     std::to_string(deviceRate) + " Hz: " + speex_resampler_strerror(err)};
    return Resampler(deviceRate, state);
}

Resampler::Progress Resampler::Process(std::span<const std::int16_t> in,
                                       std::span<float> out) noexcept {
    if (!state_) {
        int n = static_cast<int>(std::min(in.size(), out.size()));
        for (int i = 0; i < n; ++i)
            out[i] = in[i] * kInt16ToFloat;
        return {n, n};
    }
    // speexdsp runs on int16-scaled floats here, as its int16 path does inside. Its
    // output lands in a scratch buffer and only the scaled result goes to the device's
    // buffer: a host that reads that buffer early (a late cycle) must find sound there,
    // never a sample 32768 times too loud.
    Progress done;
    while (done.consumed < static_cast<int>(in.size()) &&
           done.produced < static_cast<int>(out.size())) {
        int piece = std::min(static_cast<int>(in.size()) - done.consumed,
                             static_cast<int>(scratchIn_.size()));
        std::copy_n(in.begin() + done.consumed, piece, scratchIn_.begin());
        spx_uint32_t taken = piece;
        spx_uint32_t written = std::min(out.size() - done.produced, scratchOut_.size());
        speex_resampler_process_float(state_.get(), 0, scratchIn_.data(), &taken,
                                      scratchOut_.data(), &written);
        float* target = out.data() + done.produced;
        for (spx_uint32_t i = 0; i < written; ++i)
            target[i] = std::clamp(scratchOut_[i] * kInt16ToFloat, kLowestFloat, kHighestFloat);
        done.consumed += taken;
        done.produced += written;
        if (taken == 0 && written == 0)
            break;
    }
    return done;
}

Resampler::Progress Resampler::Process(std::span<const std::int16_t> in,
                                       std::span<std::int16_t> out) noexcept {
    if (!state_) {
        int n = static_cast<int>(std::min(in.size(), out.size()));
        std::copy_n(in.begin(), n, out.begin());
        return {n, n};
    }
    spx_uint32_t taken = in.size();
    spx_uint32_t written = out.size();
    speex_resampler_process_int(state_.get(), 0, in.data(), &taken, out.data(), &written);
    return {static_cast<int>(taken), static_cast<int>(written)};
}

int Resampler::DelayFrames() const {
    return state_ ? speex_resampler_get_output_latency(state_.get()) : 0;
}

} // namespace morvane
