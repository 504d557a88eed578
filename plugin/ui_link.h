#pragma once

#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include <lv2/atom/atom.h>

#include "plugin/ui_protocol.h"

// What the UI library in the host and the panel process say to each other over their
// socket pair (SOCK_SEQPACKET, so a message arrives whole or not at all). Both sides take
// the format from here alone; it is private to one bundle, so it carries no version.
namespace morvane::lv2 {

// The panel program in the bundle, and the option that names its end of the socket.
inline constexpr const char* kPanelProgram = "morvane-lv2-panel";
inline constexpr const char* kPanelSocketOption = "--socket=";
inline constexpr const char* kPanelTitleOption = "--title=";

enum class LinkKind : std::uint32_t {
    // Either way: a control port's value, a float.
    PortValue = 1,
    // Either way: an atom (header and body) for an atom port, as atom:eventTransfer.
    PortAtom = 2,
    // Library to panel, first: the host's URIDs of kLinkUris, in that order.
    Urids = 3,
};

struct LinkHeader {
    LinkKind kind;
    std::uint32_t port;
};

// The URIs the panel needs the host's numbers for, to read and write atoms.
enum LinkUri : int {
    kUriMidiEvent,
    kUriAtomObject,
    kUriAtomInt,
    kUriAtomLong,
    kUriAtomString,
    kUriLearn,
    kUriCancelLearn,
    kUriForget,
    kUriRestoreBindings,
    kUriDescribe,
    kUriKeys,
    kUriBindings,
    kUriLearnt,
    kUriLearnArmed,
    kUriSlider,
    kUriController,
    kUriTakenFrom,
    kUriSounding,
    kUriText,
    kUriCtrl,
    kUriHeld,
    kLinkUriCount,
};
inline constexpr std::array<const char*, kLinkUriCount> kLinkUris = {
    "http://lv2plug.in/ns/ext/midi#MidiEvent",
    "http://lv2plug.in/ns/ext/atom#Object",
    "http://lv2plug.in/ns/ext/atom#Int",
    "http://lv2plug.in/ns/ext/atom#Long",
    "http://lv2plug.in/ns/ext/atom#String",
    ui::kLearn,
    ui::kCancelLearn,
    ui::kForget,
    ui::kRestoreBindings,
    ui::kDescribe,
    ui::kKeys,
    ui::kBindings,
    ui::kLearnt,
    ui::kLearnArmed,
    ui::kSlider,
    ui::kController,
    ui::kTakenFrom,
    ui::kSounding,
    ui::kText,
    ui::kCtrl,
    ui::kHeld,
};

// The largest message: an atom larger than this is not relayed.
inline constexpr std::size_t kLinkMessageLimit = 64 * 1024;

inline std::vector<std::uint8_t> LinkMessage(LinkKind kind, std::uint32_t port,
                                             std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> message(sizeof(LinkHeader) + payload.size());
    const LinkHeader header{kind, port};
    std::memcpy(message.data(), &header, sizeof header);
    if (!payload.empty())
        std::memcpy(message.data() + sizeof header, payload.data(), payload.size());
    return message;
}

inline std::vector<std::uint8_t> PortValueMessage(std::uint32_t port, float value) {
    std::uint8_t bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    return LinkMessage(LinkKind::PortValue, port, bytes);
}

struct ReceivedLink {
    LinkHeader header;
    std::vector<std::uint8_t> payload;

    std::optional<float> Value() const {
        float value;
        if (header.kind != LinkKind::PortValue || payload.size() != sizeof value)
            return std::nullopt;
        std::memcpy(&value, payload.data(), sizeof value);
        return value;
    }

    // A PortAtom message's atom, header and body, when the message holds it whole: one
    // whose header claims more than came is nothing, as its reader would run past the end.
    std::optional<std::span<const std::uint8_t>> Atom() const {
        LV2_Atom atom;
        if (header.kind != LinkKind::PortAtom || payload.size() < sizeof atom)
            return std::nullopt;
        std::memcpy(&atom, payload.data(), sizeof atom);
        if (atom.size > payload.size() - sizeof atom)
            return std::nullopt;
        return std::span(payload).first(sizeof atom + atom.size);
    }
};

// The port a PortValue message sets, read where the message lies; nothing for another.
inline std::optional<std::uint32_t> ValuePort(std::span<const std::uint8_t> message) {
    LinkHeader header;
    if (message.size() != sizeof header + sizeof(float))
        return std::nullopt;
    std::memcpy(&header, message.data(), sizeof header);
    if (header.kind != LinkKind::PortValue)
        return std::nullopt;
    return header.port;
}

// Splits a message that arrived; nothing for one too short to have a header.
inline std::optional<ReceivedLink> ParseLink(std::span<const std::uint8_t> message) {
    if (message.size() < sizeof(LinkHeader))
        return std::nullopt;
    ReceivedLink received;
    std::memcpy(&received.header, message.data(), sizeof(LinkHeader));
    received.payload.assign(message.begin() + sizeof(LinkHeader), message.end());
    return received;
}

// Hands take every message waiting on the socket, without waiting for more, reading each
// into buffer: false once the other end has closed.
template <typename Take>
bool ReceiveLinks(int socket, std::span<std::uint8_t> buffer, const Take& take) {
    for (;;) {
        const ssize_t size = ::recv(socket, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (size < 0 && errno == EINTR)
            continue;
        if (size < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        if (size <= 0)
            return false;
        if (const std::optional<ReceivedLink> link =
                ParseLink(buffer.first(static_cast<std::size_t>(size))))
            take(*link);
    }
}

} // namespace morvane::lv2
