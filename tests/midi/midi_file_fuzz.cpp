#include "midi/block_schedule.h"
#include "midi/midi_file.h"
#include "midi/midi_mapping.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <tuple>

// Feeds arbitrary bytes to the MIDI file reader: it must return a file or an error naming
// a byte, never crash or run away; a file it returns must be in order and within its end,
// and its events played through the mapping must yield only voice keys (the keyboard's,
// or a note's beyond them). The same bytes go to the mapping as raw messages too.
namespace {

using namespace morvane;

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "MIDI file: %s\n", what);
        std::abort();
    }
}

void CheckActions(const MidiActions& actions) {
    for (const MidiAction& action : actions) {
        if (const auto* down = std::get_if<KeyDown>(&action))
            Check(down->key >= 0 && down->key < kVoiceKeyCount, "key down off the voice keys");
        if (const auto* up = std::get_if<KeyUp>(&action))
            Check(up->key >= 0 && up->key < kVoiceKeyCount, "key up off the voice keys");
    }
}

// Live input delivers whatever a device sends: the bytes as messages of a status byte's
// length, broken ones included.
void PlayAsMessages(const std::uint8_t* data, std::size_t size) {
    MidiMapping mapping;
    (void)mapping.ArmLearn(EnvSustain);
    for (std::size_t i = 0; i < size;) {
        const std::size_t length = std::min<std::size_t>(1 + DataByteCount(data[i]), size - i);
        CheckActions(mapping.Apply({data + i, length}));
        i += length;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    PlayAsMessages(data, size);
    const Result<MidiFile> file = ReadMidiFile({data, size});
    if (!file) {
        Check(file.error().message.rfind("byte ", 0) == 0, "an error without its byte");
        return 0;
    }
    const MidiFileEvent* previous = nullptr;
    for (const MidiFileEvent& event : file->events) {
        Check(event.time >= 0 && event.time <= file->end, "an event outside the file");
        Check(event.offset < size, "an event outside the bytes");
        if (previous)
            Check(std::tie(previous->time, previous->track, previous->offset) <
                      std::tie(event.time, event.track, event.offset),
                  "events out of order");
        previous = &event;
    }

    MidiMapping mapping;
    (void)mapping.ArmLearn(VcfIntensity);
    for (const MidiFileEvent& event : file->events)
        CheckActions(mapping.Apply(event.message.Bytes()));
    Check(EndBlock(*file) >=
              FirstBlockAtOrAfter(previous ? previous->time : 0, file->ticksPerQuarter),
          "an event after the end");
    return 0;
}
