#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "audio/player_event.h"
#include "audio/realtime_player.h"
#include "tools/render_start.h"
#include "tools/score.h"

namespace morvane {

// Hands a score to a scored RealtimePlayer, the instrument every input plays: first the
// presets its program changes load, then the score's events, then the end. The player
// renders the blocks its RenderBlocks events allow at whatever pace it is pulled: a device
// at its own, a file as fast as the engine goes.
class ScoreFeeder {
public:
    // The start and the score must outlive the feeder.
    ScoreFeeder(const RenderStart& start, const score::Score& score);

    // Sends as much as the player's queue takes; true once the end is sent.
    bool Feed(RealtimePlayer& player);

private:
    std::optional<PlayerEvent> Next() const;

    const RenderStart& start_;
    const score::Score& score_;
    std::size_t sent_ = 0; // the presets, then the score's events, then the end
};

// Renders the score's next block into block at the caller's own pace, feeding the player
// until it has the block; false once the score has ended.
bool NextScoreBlock(RealtimePlayer& player, ScoreFeeder& feeder, std::int16_t* block);

} // namespace morvane
