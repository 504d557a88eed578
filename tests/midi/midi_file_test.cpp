#include "midi/midi_file.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

using namespace morvane;

namespace {

using Bytes = std::vector<std::uint8_t>;

void Append(Bytes& to, const Bytes& bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

Bytes BigEndian32(std::size_t value) {
    return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

Bytes Header(int format, int tracks, int division) {
    Bytes bytes = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
    for (int field : {format, tracks, division}) {
        bytes.push_back(static_cast<std::uint8_t>(field >> 8));
        bytes.push_back(static_cast<std::uint8_t>(field));
    }
    return bytes;
}

Bytes Track(const Bytes& events) {
    Bytes bytes = {'M', 'T', 'r', 'k'};
    Append(bytes, BigEndian32(events.size()));
    Append(bytes, events);
    return bytes;
}

Bytes File(int format, int division, std::initializer_list<Bytes> tracks) {
    Bytes bytes = Header(format, static_cast<int>(tracks.size()), division);
    for (const Bytes& track : tracks)
        Append(bytes, Track(track));
    return bytes;
}

const Bytes kEndOfTrack = {0x00, 0xFF, 0x2F, 0x00};

Bytes Events(std::initializer_list<Bytes> parts) {
    Bytes bytes;
    for (const Bytes& part : parts)
        Append(bytes, part);
    return bytes;
}

// An event as (time, track, message bytes).
using Timed = std::tuple<std::int64_t, int, Bytes>;

std::vector<Timed> TimedEvents(const MidiFile& file) {
    std::vector<Timed> events;
    for (const MidiFileEvent& e : file.events)
        events.emplace_back(e.time, e.track,
                            Bytes(e.message.Bytes().begin(), e.message.Bytes().end()));
    return events;
}

} // namespace

// Running status, a velocity-0 note-on kept as it is (the mapping reads it as a
// note-off), system exclusive and other meta events passed over, a two-byte delta.
TEST(MidiFile, RunningStatusAndSkippedEvents) {
    const Bytes bytes = File(0, 96,
                             {Events({{0x00, 0x90, 0x3C, 0x40},
                                      {0x00, 0x3E, 0x40},                   // running status
                                      {0x00, 0xF0, 0x03, 0x7E, 0x01, 0xF7}, // system exclusive
                                      {0x00, 0xFF, 0x03, 0x02, 'h', 'i'},   // a track name
                                      {0x81, 0x00, 0x90, 0x3C, 0x00},       // 128 ticks later
                                      {0x00, 0xC1, 0x05},
                                      {0x00, 0x06},
                                      kEndOfTrack})});
    const Result<MidiFile> file = ReadMidiFile(bytes);
    ASSERT_TRUE(file) << file.error().message;
    EXPECT_EQ(file->ticksPerQuarter, 96);
    // At the default 500000 microseconds a quarter, a tick is 500000 of the file's unit.
    const std::int64_t later = 128 * 500000LL;
    EXPECT_EQ(TimedEvents(*file), (std::vector<Timed>{{0, 0, {0x90, 0x3C, 0x40}},
                                                      {0, 0, {0x90, 0x3E, 0x40}},
                                                      {later, 0, {0x90, 0x3C, 0x00}},
                                                      {later, 0, {0xC1, 0x05}},
                                                      {later, 0, {0xC1, 0x06}}}));
    EXPECT_EQ(file->end, later);
}

// Times are microseconds times the ticks per quarter (3 here), so a tick at 500000
// microseconds a quarter, 166666.67 microseconds, is exact.
TEST(MidiFile, TempoChangesMidFileGiveExactTimes) {
    const Bytes bytes = File(0, 3,
                             {Events({{0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}, // 500000
                                      {0x01, 0x90, 0x45, 0x40},
                                      {0x02, 0xFF, 0x51, 0x03, 0x06, 0x1A, 0x80}, // 400000
                                      {0x03, 0x80, 0x45, 0x00},
                                      {0x03, 0xFF, 0x2F, 0x00}})});
    const Result<MidiFile> file = ReadMidiFile(bytes);
    ASSERT_TRUE(file) << file.error().message;
    EXPECT_EQ(TimedEvents(*file), (std::vector<Timed>{{500000, 0, {0x90, 0x45, 0x40}},
                                                      {2700000, 0, {0x80, 0x45, 0x00}}}));
    EXPECT_EQ(file->end, 3900000);
}

// Events of one time come by track, then by place in the file; a tempo event in the
// second track sets the tempo of both; the file ends with its longest track.
TEST(MidiFile, FormatOneMergesTracksByTimeThenTrack) {
    const Bytes bytes = File(1, 1,
                             {Events({{0x00, 0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90}, // 250000
                                      {0x02, 0x90, 0x40, 0x40},
                                      {0x05, 0xFF, 0x2F, 0x00}}),
                              Events({{0x01, 0x91, 0x41, 0x40},
                                      {0x01, 0x91, 0x42, 0x40},
                                      {0x00, 0xFF, 0x51, 0x03, 0x01, 0x86, 0xA0}, // 100000
                                      {0x00, 0x91, 0x43, 0x40},
                                      {0x0A, 0xFF, 0x2F, 0x00}})});
    const Result<MidiFile> file = ReadMidiFile(bytes);
    ASSERT_TRUE(file) << file.error().message;
    EXPECT_EQ(file->format, 1);
    EXPECT_EQ(TimedEvents(*file), (std::vector<Timed>{{250000, 1, {0x91, 0x41, 0x40}},
                                                      {500000, 0, {0x90, 0x40, 0x40}},
                                                      {500000, 1, {0x91, 0x42, 0x40}},
                                                      {500000, 1, {0x91, 0x43, 0x40}}}));
    EXPECT_EQ(file->end, 500000 + 10 * 100000);
}

TEST(MidiFile, BrokenFilesNameTheByteWhereReadingStopped) {
    Bytes tooLong = Header(0, 1, 1);
    Bytes longEvents = {0x00, 0xFF, 0x51, 0x03, 0xFF, 0xFF, 0xFF, 0x00, 0x90, 0x3C, 0x40};
    for (int i = 0; i < 2100; ++i) // 2100 × 2^28 ticks of 2^24 microseconds
        Append(longEvents, {0xFF, 0xFF, 0xFF, 0x7F, 0x3C, 0x40});
    Append(tooLong, Track(longEvents));

    Bytes missingTrack = Header(1, 2, 96);
    Append(missingTrack, Track(kEndOfTrack));

    struct Case {
        const char* name;
        Bytes bytes;
        std::string error;
    };
    const Case cases[] = {
        {"not a MIDI file", {'R', 'I', 'F', 'F', 0, 0, 0, 6}, "byte 0: not a MIDI file"},
        {"a short header", {'M', 'T', 'h', 'd', 0, 0, 0, 5, 0, 0, 0, 1, 0}, "byte 4: "},
        {"format 2", File(2, 96, {kEndOfTrack}), "byte 8: format 2"},
        {"SMPTE division", File(0, 0xE728, {kEndOfTrack}), "byte 12: a division in SMPTE"},
        {"zero division", File(0, 0, {kEndOfTrack}), "byte 12: "},
        {"a truncated track", File(0, 96, {{0x00, 0x90, 0x3C}}),
         "byte 25: the track ends inside an event"},
        {"a chunk longer than the file",
         Events({Header(0, 1, 96), {'M', 'T', 'r', 'k', 0, 0, 1, 0, 0x00}}),
         "byte 18: a chunk of 256 bytes runs past the end of the file"},
        {"fewer tracks than the header says", missingTrack,
         "byte 26: the file ends after 1 of 2 tracks"},
        {"a data byte without a status", File(0, 96, {{0x00, 0x3C, 0x40}}), "byte 23: data byte"},
        {"running status does not outlive system exclusive",
         File(0, 96, {{0x00, 0x90, 0x3C, 0x40, 0x00, 0xF0, 0x01, 0xF7, 0x00, 0x3C, 0x00}}),
         "byte 31: data byte 0x3C without a status byte"},
        {"a status byte in place of data", File(0, 96, {{0x00, 0x90, 0x3C, 0x90}}),
         "byte 25: data byte 0x90 of a 0x90 message"},
        {"a variable-length number of five bytes", File(0, 96, {{0x80, 0x80, 0x80, 0x80, 0x00}}),
         "byte 22: a variable-length number runs over four bytes"},
        {"a tempo of two bytes", File(0, 96, {{0x00, 0xFF, 0x51, 0x02, 0x07, 0xA1}}),
         "byte 23: a tempo event of 2 bytes"},
        {"a tempo of zero", File(0, 96, {{0x00, 0xFF, 0x51, 0x03, 0x00, 0x00, 0x00}}),
         "byte 23: a tempo of 0"},
        {"a real-time status in a file", File(0, 96, {{0x00, 0xF8}}), "byte 23: status byte 0xF8"},
        {"a file that lasts too long", tooLong, "the file lasts too long"},
        {"a file over the size cap", Bytes(kLargestMidiFile + 1), "more than 16 MB"},
    };
    for (const Case& c : cases) {
        const Result<MidiFile> file = ReadMidiFile(c.bytes);
        ASSERT_FALSE(file) << c.name;
        EXPECT_NE(file.error().message.find(c.error), std::string::npos)
            << c.name << ": " << file.error().message;
    }
}

TEST(MidiFile, LoadingNamesTheFile) {
    const Result<MidiFile> file = LoadMidiFile("no such directory/song.mid");
    ASSERT_FALSE(file);
    EXPECT_EQ(file.error().message.rfind("no such directory/song.mid: ", 0), 0u)
        << file.error().message;
}
