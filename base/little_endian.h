#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>

// The byte order of WAV files and of raw sample output, whatever the machine's own.
namespace morvane {

// Stores value in sizeof(T) bytes from out on, lowest byte first.
template <std::unsigned_integral T, class Byte>
constexpr void StoreLittleEndian(T value, Byte* out) {
    for (std::size_t i = 0; i < sizeof(T); ++i)
        out[i] = static_cast<Byte>(value >> (8 * i));
}

template <std::unsigned_integral T>
constexpr std::array<std::uint8_t, sizeof(T)> LittleEndianBytes(T value) {
    std::array<std::uint8_t, sizeof(T)> bytes{};
    StoreLittleEndian(value, bytes.data());
    return bytes;
}

} // namespace morvane
