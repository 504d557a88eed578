#include "tools/wav_header.h"

#include <cstring>
#include <limits>

#include "engine/synth_state.h"

namespace morvane {

namespace {

constexpr std::uint32_t kFormatChunkBytes = 18; // WAVEFORMATEX with no extra bytes
// Everything after the RIFF size field but the samples: "WAVE", both chunk headers
// and the format.
constexpr std::uint32_t kRiffOverhead = 4 + 8 + kFormatChunkBytes + 8;
constexpr std::uint16_t kPcm = 1;
constexpr std::uint16_t kChannels = 1;
constexpr std::uint16_t kBitsPerSample = 16;
constexpr std::uint16_t kBytesPerFrame = kChannels * kBitsPerSample / 8;

class HeaderWriter {
public:
    explicit HeaderWriter(WavHeader& header) : at_(header.data()) {}
    void Tag(const char (&tag)[5]) {
        std::memcpy(at_, tag, 4);
        at_ += 4;
    }
    void U16(std::uint16_t v) {
        *at_++ = static_cast<std::uint8_t>(v);
        *at_++ = static_cast<std::uint8_t>(v >> 8);
    }
    void U32(std::uint32_t v) {
        U16(static_cast<std::uint16_t>(v));
        U16(static_cast<std::uint16_t>(v >> 16));
    }

private:
    std::uint8_t* at_;
};

} // namespace

bool FitsInWav(std::uint64_t blocks) {
    constexpr std::uint64_t kLargestRiffSize = std::numeric_limits<std::uint32_t>::max();
    return blocks <= (kLargestRiffSize - kRiffOverhead) / kBlockBytes;
}

WavHeader MakeWavHeader(std::uint64_t blocks) {
    auto dataBytes = static_cast<std::uint32_t>(blocks * kBlockBytes);
    WavHeader header{};
    HeaderWriter w(header);
    w.Tag("RIFF");
    w.U32(kRiffOverhead + dataBytes);
    w.Tag("WAVE");
    w.Tag("fmt ");
    w.U32(kFormatChunkBytes);
    w.U16(kPcm);
    w.U16(kChannels);
    w.U32(kSampleRate);
    w.U32(kSampleRate * kBytesPerFrame);
    w.U16(kBytesPerFrame);
    w.U16(kBitsPerSample);
    w.U16(0); // no extra format bytes
    w.Tag("data");
    w.U32(dataBytes);
    return header;
}

} // namespace morvane
