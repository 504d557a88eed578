#pragma once

#include <array>
#include <cstdint>

// The header that starts a WAV file of whole blocks, laid out byte for byte as the
// program's recordings are: RIFF, an 18-byte "fmt " chunk for 22050 Hz mono 16-bit
// PCM, then "data". Every number is little-endian.
namespace morvane {

inline constexpr int kWavHeaderBytes = 46;
inline constexpr int kBlockBytes = 882; // 441 samples of two bytes

using WavHeader = std::array<std::uint8_t, kWavHeaderBytes>;

// The RIFF size field is 32 bits wide; it must hold 38 + 882 × blocks.
bool FitsInWav(std::uint64_t blocks);

// The header for a file of that many blocks; FitsInWav(blocks) must hold.
WavHeader MakeWavHeader(std::uint64_t blocks);

} // namespace morvane
