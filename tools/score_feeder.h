#pragma once

#include <cstddef>
#include <optional>

#include "audio/realtime_player.h"
#include "tools/offline_renderer.h"
#include "tools/score.h"

namespace morvane {

// Hands a score to a scored RealtimePlayer as the window hands it its input: the panel
// settings are applied to the renderer's sound here, and the player gets the whole
// sound as one event before the next key, Ctrl or render command; render commands
// become Render events and the score's end an End event. The player then renders the
// very blocks of the offline render.
class ScoreFeeder {
public:
    // The renderer (started up, its sound the player's first) and the score must
    // outlive the feeder.
    ScoreFeeder(OfflineRenderer& renderer, const score::Score& score);

    // Sends as much as the player's queue takes; true once the End event is sent.
    bool Feed(RealtimePlayer& player);

private:
    std::optional<PlayerEvent> NextEvent();
    std::optional<PlayerEvent> SoundIfChanged();

    OfflineRenderer& renderer_;
    const score::Score& score_;
    SoundParameters sentSound_;
    std::size_t nextCommand_ = 0;
    // A command whose sound went first, waiting for its own turn.
    std::optional<PlayerEvent> waiting_;
    // The event the queue had no room for.
    std::optional<PlayerEvent> unsent_;
    bool ended_ = false; // the End event is sent
};

} // namespace morvane
