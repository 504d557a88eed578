#include "tools/score_feeder.h"

namespace morvane {

ScoreFeeder::ScoreFeeder(const RenderStart& start, const score::Score& score)
    : start_(start), score_(score) {}

std::optional<PlayerEvent> ScoreFeeder::Next() const {
    constexpr auto kPresets = static_cast<std::size_t>(kPresetSlotCount);
    constexpr std::size_t kStart = kPresets + kPlayingControls.size();
    if (sent_ < kPresets)
        return Command{StorePreset{static_cast<int>(sent_), start_.presets[sent_]}};
    if (sent_ < kStart) {
        const PlayingControl control = kPlayingControls[sent_ - kPresets];
        return Command{SetPlaying{control, ReadPlaying(start_.playing, control)}};
    }
    const std::size_t event = sent_ - kStart;
    if (event < score_.events.size())
        return score_.events[event];
    if (event == score_.events.size())
        return EndOfScore{};
    return std::nullopt;
}

bool ScoreFeeder::Feed(RealtimePlayer& player) {
    for (std::optional<PlayerEvent> event = Next(); event; event = Next()) {
        if (!player.Send(*event))
            return false;
        ++sent_;
    }
    return true;
}

// The queue holds fewer events than a score may put inside a block: the player takes
// what came, and is fed again until the block may be rendered.
bool NextScoreBlock(RealtimePlayer& player, ScoreFeeder& feeder, std::int16_t* block) {
    for (;;) {
        feeder.Feed(player);
        if (player.NextBlock(block))
            return true;
        if (player.Ended())
            return false;
    }
}

} // namespace morvane
