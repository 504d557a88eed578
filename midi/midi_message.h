#pragma once

#include <array>
#include <cstdint>
#include <span>

// One MIDI channel message: its status byte and the one or two data bytes that follow.
// Live input and MIDI files both deliver messages whole, one at a time, in this form.
namespace morvane {

inline constexpr std::uint8_t kNoteOff = 0x80;
inline constexpr std::uint8_t kNoteOn = 0x90;
inline constexpr std::uint8_t kControlChange = 0xB0;
inline constexpr std::uint8_t kProgramChange = 0xC0;
inline constexpr std::uint8_t kChannelPressure = 0xD0;
inline constexpr std::uint8_t kPitchBend = 0xE0;

// The channel messages are the status bytes 0x80..0xEF: the high nibble names the
// message, the low nibble the channel 0..15 (shown to users as 1..16).
constexpr bool IsChannelStatus(std::uint8_t status) {
    return status >= 0x80 && status < 0xF0;
}

// Program change and channel pressure carry one data byte, the other channel messages two.
constexpr int DataByteCount(std::uint8_t status) {
    const std::uint8_t kind = status & 0xF0;
    return kind == kProgramChange || kind == kChannelPressure ? 1 : 2;
}

struct MidiMessage {
    std::array<std::uint8_t, 3> bytes{};
    std::uint8_t size = 0;

    std::span<const std::uint8_t> Bytes() const { return {bytes.data(), size}; }
    friend bool operator==(const MidiMessage&, const MidiMessage&) = default;
};

} // namespace morvane
