#include "tools/midi_score.h"

#include <algorithm>
#include <string>
#include <variant>

#include "base/ascii.h"
#include "midi/block_schedule.h"
#include "midi/midi_mapping.h"

namespace morvane {

namespace {

template <typename... Handlers> struct Overloaded : Handlers... { using Handlers::operator()...; };

constexpr std::int64_t kBlocksPerHour = 60 * 60 * 50;

// The engine call a score makes for each action. A file has no Ctrl key, so the LFO
// gate follows the mod wheel alone.
void AddCommand(const MidiAction& action, std::vector<score::Command>& commands) {
    std::visit(Overloaded{
                   [&](const KeyDown& a) { commands.push_back(score::KeyDown{a.key}); },
                   [&](const KeyUp& a) { commands.push_back(score::KeyUp{a.key}); },
                   [&](const HoldLfo& a) { commands.push_back(score::SetCtrl{a.held}); },
                   [&](const LoadProgram& a) { commands.push_back(score::LoadPreset{a.slot}); },
                   [&](const SetControl& a) {
                       commands.push_back(score::MoveControl{a.id, a.position});
                   },
                   // Nothing arms MIDI learn here.
                   [](const ControllerLearnt&) {},
               },
               action);
}

} // namespace

bool NamesMidiFile(std::string_view path) {
    return EndsWithIgnoringAsciiCase(path, ".mid") || EndsWithIgnoringAsciiCase(path, ".midi");
}

Result<score::Score> MidiScore(const MidiFile& file, std::int64_t tailBlocks,
                               const ControllerBindings& bindings) {
    const std::int64_t endBlock = BlockSchedule(file).EndBlock();
    if (endBlock + tailBlocks > kLongestMidiRenderBlocks)
        return Error{"the file and its tail last " + std::to_string(endBlock + tailBlocks) +
                     " blocks of 20 ms, more than the " +
                     std::to_string(kLongestMidiRenderBlocks / kBlocksPerHour) +
                     " hours rendered at most"};

    score::Score score;
    std::int64_t rendered = 0;
    const auto renderUpTo = [&](std::int64_t block) {
        if (block > rendered)
            score.commands.push_back(score::Render{static_cast<std::uint64_t>(block - rendered)});
        rendered = std::max(rendered, block);
    };
    MidiMapping mapping(bindings);
    for (const MidiFileEvent& event : file.events) {
        renderUpTo(FirstBlockAtOrAfter(event.time, file.ticksPerQuarter));
        for (const MidiAction& action : mapping.Apply(event.message.Bytes()))
            AddCommand(action, score.commands);
    }
    renderUpTo(endBlock + tailBlocks);
    score.blocks = static_cast<std::uint64_t>(rendered);
    return score;
}

Result<score::Score> ReadMidiScore(const std::filesystem::path& path, std::int64_t tailBlocks,
                                   const ControllerBindings& bindings) {
    const Result<MidiFile> file = LoadMidiFile(path);
    if (!file)
        return file.error();
    Result<score::Score> score = MidiScore(*file, tailBlocks, bindings);
    if (!score)
        return Error{path.string() + ": " + score.error().message};
    return score;
}

} // namespace morvane
