#include "midi/midi_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

namespace morvane {

namespace {

constexpr std::int64_t kDefaultTempo = 500000; // microseconds per quarter: 120 a minute
constexpr std::size_t kChunkHeaderSize = 8;    // four letters and a 32-bit length
constexpr std::size_t kHeaderDataSize = 6;     // format, track count, division
constexpr std::uint8_t kMeta = 0xFF;
constexpr std::uint8_t kEndOfTrack = 0x2F;
constexpr std::uint8_t kSetTempo = 0x51;
constexpr std::uint8_t kSystemExclusive = 0xF0;
constexpr std::uint8_t kSystemExclusiveContinued = 0xF7;
constexpr std::uint16_t kSmpteDivision = 0x8000;
constexpr int kLongestVariableLength = 4; // bytes: 28 bits

std::string Hex(unsigned byte) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "0x%02X", byte);
    return text.data();
}

// Reads a span of the file. The first fault is kept with its byte offset and ends the
// span, so that the loops over it stop without checking every read.
class Cursor {
public:
    Cursor(std::span<const std::uint8_t> file, std::size_t begin, std::size_t end,
           std::optional<Error>& fault, const char* cutShort)
        : file_(file), position_(begin), end_(end), fault_(fault), cutShort_(cutShort) {}

    bool AtEnd() const { return position_ >= end_; }
    std::size_t Position() const { return position_; }

    std::uint8_t Peek() {
        if (AtEnd()) {
            Fail(position_, cutShort_);
            return 0;
        }
        return file_[position_];
    }

    std::uint8_t Byte() {
        const std::uint8_t byte = Peek();
        if (!AtEnd())
            ++position_;
        return byte;
    }

    std::uint32_t BigEndian(int count) {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i)
            value = value << 8 | Byte();
        return value;
    }

    // Seven bits a byte, most significant first; the high bit says that more follow.
    std::uint32_t VariableLength() {
        const std::size_t start = position_;
        std::uint32_t value = 0;
        for (int i = 0; i < kLongestVariableLength; ++i) {
            const std::uint8_t byte = Byte();
            value = value << 7 | (byte & 0x7F);
            if ((byte & 0x80) == 0)
                return value;
        }
        Fail(start, "a variable-length number runs over four bytes");
        return 0;
    }

    void Skip(std::uint32_t count) {
        if (count > end_ - position_) {
            Fail(position_, cutShort_);
            return;
        }
        position_ += count;
    }

    void Fail(std::size_t offset, const std::string& what) {
        if (!fault_)
            fault_ = Error{"byte " + std::to_string(offset) + ": " + what};
        position_ = end_;
    }

private:
    std::span<const std::uint8_t> file_;
    std::size_t position_;
    std::size_t end_;
    std::optional<Error>& fault_;
    const char* cutShort_; // what running out of bytes means here
};

struct TempoChange {
    std::int64_t tick;
    std::uint16_t track;
    std::uint32_t offset;
    std::int64_t tempo; // microseconds per quarter note
};

// The file as read, times still in ticks.
struct Tracks {
    std::vector<MidiFileEvent> events; // time holds the tick
    std::vector<TempoChange> tempos;
    std::int64_t endTick = 0;    // the latest end of a track
    std::uint32_t endOffset = 0; // and where that track ends
};

void ReadChannelMessage(Cursor& track, std::uint8_t status, MidiMessage& message) {
    message.bytes[0] = status;
    message.size = static_cast<std::uint8_t>(1 + DataByteCount(status));
    for (int i = 1; i < message.size; ++i) {
        const std::size_t at = track.Position();
        message.bytes[i] = track.Byte();
        if (message.bytes[i] >= 0x80)
            track.Fail(at, "data byte " + Hex(message.bytes[i]) + " of a " + Hex(status) +
                               " message is above 0x7F");
    }
}

void ReadTrack(Cursor& track, std::uint16_t index, Tracks& tracks) {
    std::int64_t tick = 0;
    std::uint8_t running = 0; // the status a data byte in place of a status repeats
    while (!track.AtEnd()) {
        tick += track.VariableLength(); // the size cap keeps the sum far from overflow
        const std::size_t start = track.Position();
        std::uint8_t status = track.Peek();
        if (status >= 0x80)
            track.Byte();
        else if (running != 0)
            status = running;
        else
            track.Fail(start, "data byte " + Hex(status) + " without a status byte");

        if (status == kMeta) {
            running = 0;
            const std::uint8_t type = track.Byte();
            const std::uint32_t length = track.VariableLength();
            if (type == kEndOfTrack)
                break;
            if (type == kSetTempo) {
                if (length != 3)
                    track.Fail(start, "a tempo event of " + std::to_string(length) +
                                          " bytes instead of 3");
                const std::int64_t tempo = track.BigEndian(3);
                // Time must grow with the ticks, or events of later ticks would fall on
                // one moment and be ordered by track, out of the order of their ticks.
                if (tempo == 0)
                    track.Fail(start, "a tempo of 0 microseconds per quarter note");
                tracks.tempos.push_back({tick, index, static_cast<std::uint32_t>(start), tempo});
            } else {
                track.Skip(length);
            }
        } else if (status == kSystemExclusive || status == kSystemExclusiveContinued) {
            running = 0;
            track.Skip(track.VariableLength());
        } else if (IsChannelStatus(status)) {
            running = status;
            MidiFileEvent event{tick, static_cast<std::uint32_t>(start), index, {}};
            ReadChannelMessage(track, status, event.message);
            tracks.events.push_back(event);
        } else if (status >= 0x80) {
            track.Fail(start, "status byte " + Hex(status) + " does not belong in a file");
        }
    }
    // A track without its end-of-track event ends with its last event.
    if (tick >= tracks.endTick) {
        tracks.endTick = tick;
        tracks.endOffset = static_cast<std::uint32_t>(track.Position());
    }
}

// Turns ticks into times, for ticks asked in rising order.
class TempoMap {
public:
    explicit TempoMap(const std::vector<TempoChange>& changes) : changes_(changes) {}

    std::optional<std::int64_t> TimeOf(std::int64_t tick) {
        while (next_ < changes_.size() && changes_[next_].tick <= tick) {
            const std::optional<std::int64_t> time = TimeAt(changes_[next_].tick);
            if (!time)
                return std::nullopt;
            startTime_ = *time;
            startTick_ = changes_[next_].tick;
            tempo_ = changes_[next_].tempo;
            ++next_;
        }
        return TimeAt(tick);
    }

private:
    std::optional<std::int64_t> TimeAt(std::int64_t tick) const {
        std::int64_t sinceStart = 0;
        std::int64_t time = 0;
        if (__builtin_mul_overflow(tick - startTick_, tempo_, &sinceStart) ||
            __builtin_add_overflow(startTime_, sinceStart, &time))
            return std::nullopt;
        return time;
    }

    const std::vector<TempoChange>& changes_;
    std::size_t next_ = 0;
    std::int64_t startTick_ = 0;
    std::int64_t startTime_ = 0;
    std::int64_t tempo_ = kDefaultTempo;
};

// A tempo event in any track sets the tempo of the whole file; of several at one tick
// the last in track and file order holds.
Status TimeEvents(Tracks& tracks, MidiFile& file) {
    const auto byTickTrackOffset = [](const auto& a, const auto& b) {
        return std::tie(a.time, a.track, a.offset) < std::tie(b.time, b.track, b.offset);
    };
    std::ranges::sort(tracks.events, byTickTrackOffset);
    std::ranges::stable_sort(tracks.tempos, {}, &TempoChange::tick);

    TempoMap map(tracks.tempos);
    const auto tooLong = [](std::uint32_t offset) {
        return Error{"byte " + std::to_string(offset) + ": the file lasts too long"};
    };
    for (MidiFileEvent& event : tracks.events) {
        const std::optional<std::int64_t> time = map.TimeOf(event.time);
        if (!time)
            return tooLong(event.offset);
        event.time = *time;
    }
    const std::optional<std::int64_t> end = map.TimeOf(tracks.endTick);
    if (!end)
        return tooLong(tracks.endOffset);
    file.events = std::move(tracks.events);
    file.end = *end;
    return {};
}

} // namespace

Result<MidiFile> ReadMidiFile(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > kLargestMidiFile)
        return Error{"a MIDI file of more than " + std::to_string(kLargestMidiFile >> 20) +
                     " MB is not read"};
    std::optional<Error> fault;
    Cursor header(bytes, 0, bytes.size(), fault, "the header is cut short");
    const std::uint32_t id = header.BigEndian(4);
    const std::uint32_t length = header.BigEndian(4);
    if (fault || id != 0x4D546864) // "MThd"
        return Error{"byte 0: not a MIDI file (it does not begin with MThd)"};
    if (length < kHeaderDataSize)
        return Error{"byte 4: a header of " + std::to_string(length) + " bytes is too short"};
    MidiFile file;
    file.format = static_cast<int>(header.BigEndian(2));
    const std::uint32_t trackCount = header.BigEndian(2);
    const std::uint32_t division = header.BigEndian(2);
    if (fault)
        return *fault;
    if (file.format > 1)
        return Error{"byte 8: format " + std::to_string(file.format) +
                     " is not read, only formats 0 and 1"};
    if (division & kSmpteDivision)
        return Error{"byte 12: a division in SMPTE frames is not read, only ticks per quarter "
                     "note"};
    if (division == 0)
        return Error{"byte 12: the division is zero ticks per quarter note"};
    file.ticksPerQuarter = static_cast<int>(division);

    Tracks tracks;
    std::size_t position = kChunkHeaderSize + length;
    std::uint32_t tracksRead = 0;
    while (tracksRead < trackCount) {
        if (position > bytes.size() || bytes.size() - position < kChunkHeaderSize)
            return Error{"byte " + std::to_string(std::min(position, bytes.size())) +
                         ": the file ends after " + std::to_string(tracksRead) + " of " +
                         std::to_string(trackCount) + " tracks"};
        Cursor chunk(bytes, position, bytes.size(), fault, "the chunk header is cut short");
        const std::uint32_t chunkId = chunk.BigEndian(4);
        const std::uint32_t chunkLength = chunk.BigEndian(4);
        const std::size_t body = position + kChunkHeaderSize;
        if (chunkLength > bytes.size() - body)
            return Error{"byte " + std::to_string(position + 4) + ": a chunk of " +
                         std::to_string(chunkLength) + " bytes runs past the end of the file"};
        // Chunks of other kinds are for other programs and are passed over.
        if (chunkId == 0x4D54726B) { // "MTrk"
            Cursor track(bytes, body, body + chunkLength, fault, "the track ends inside an event");
            ReadTrack(track, static_cast<std::uint16_t>(tracksRead), tracks);
            if (fault)
                return *fault;
            ++tracksRead;
        }
        position = body + chunkLength;
    }
    if (Status timed = TimeEvents(tracks, file); !timed)
        return timed.error();
    return file;
}

Result<MidiFile> LoadMidiFile(const std::filesystem::path& path) {
    const std::string name = path.string();
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream(std::fopen(name.c_str(), "rb"),
                                                                 std::fclose);
    if (!stream)
        return Error{name + ": " + std::strerror(errno)};
    // Read in pieces up to one byte past the cap, which tells a file at the cap from a
    // larger one, also for a pipe, whose size nobody knows beforehand.
    constexpr std::size_t kPiece = 64 * 1024;
    std::vector<std::uint8_t> bytes;
    while (bytes.size() <= kLargestMidiFile && !std::feof(stream.get())) {
        const std::size_t had = bytes.size();
        bytes.resize(std::min(had + kPiece, kLargestMidiFile + 1));
        bytes.resize(had + std::fread(bytes.data() + had, 1, bytes.size() - had, stream.get()));
        if (std::ferror(stream.get()))
            return Error{name + ": " + std::strerror(errno)};
    }
    Result<MidiFile> file = ReadMidiFile(bytes);
    if (!file)
        return Error{name + ": " + file.error().message};
    return file;
}

} // namespace morvane
