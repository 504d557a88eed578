#include "tools/midi_score.h"

#include <algorithm>
#include <string>
#include <variant>

#include "base/ascii.h"
#include "base/overloaded.h"
#include "midi/block_schedule.h"
#include "midi/midi_mapping.h"

namespace morvane {

namespace {

constexpr std::int64_t kBlocksPerHour = 60 * 60 * 50;

// The engine's commands of each action, as live MIDI applies them; nothing arms MIDI learn
// here. A file has no Ctrl key, so the LFO gate follows the mod wheel alone.
void AddEvent(const MidiAction& action, std::vector<PlayerEvent>& events) {
    std::visit(Overloaded{
                   [](const ControllerLearnt&) {},
                   [&](const auto& command) { events.push_back(Command{command}); },
               },
               action);
}

} // namespace

bool NamesMidiFile(std::string_view path) {
    return EndsWithIgnoringAsciiCase(path, ".mid") || EndsWithIgnoringAsciiCase(path, ".midi");
}

Result<score::Score> MidiScore(const MidiFile& file, std::int64_t tailBlocks,
                               const ControllerBindings& bindings, std::optional<int> channel) {
    const std::int64_t endBlock = EndBlock(file);
    if (endBlock + tailBlocks > kLongestMidiRenderBlocks)
        return Error{"the file and its tail last " + std::to_string(endBlock + tailBlocks) +
                     " blocks of 20 ms, more than the " +
                     std::to_string(kLongestMidiRenderBlocks / kBlocksPerHour) +
                     " hours rendered at most"};

    score::Score score;
    std::int64_t rendered = 0; // samples
    const auto renderUpTo = [&](std::int64_t sample) {
        if (sample > rendered)
            score.events.push_back(RenderSamples{static_cast<std::uint64_t>(sample - rendered)});
        rendered = std::max(rendered, sample);
    };
    MidiMapping mapping(bindings);
    if (channel)
        if (Status listening = mapping.ListenToChannel(*channel); !listening)
            return listening.error();
    for (const MidiFileEvent& event : file.events) {
        renderUpTo(FirstSampleAtOrAfter(event.time, file.ticksPerQuarter));
        const std::uint64_t heard = mapping.Heard();
        for (const MidiAction& action : mapping.Apply(event.message.Bytes()))
            AddEvent(action, score.events);
        if (mapping.Heard() != heard)
            score.events.push_back(MidiMessageHere{});
    }
    renderUpTo((endBlock + tailBlocks) * kBlockSamples);
    score.blocks = static_cast<std::uint64_t>(endBlock + tailBlocks);
    return score;
}

Result<score::Score> ReadMidiScore(const std::filesystem::path& path, std::int64_t tailBlocks,
                                   const ControllerBindings& bindings, std::optional<int> channel) {
    const Result<MidiFile> file = LoadMidiFile(path);
    if (!file)
        return file.error();
    Result<score::Score> score = MidiScore(*file, tailBlocks, bindings, channel);
    if (!score)
        return Error{path.string() + ": " + score.error().message};
    return score;
}

} // namespace morvane
