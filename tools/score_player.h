#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string_view>

#include "base/result.h"
#include "tools/offline_renderer.h"
#include "tools/score.h"

namespace morvane {

// A score played one block at a time, so that a file and a real-time stream get the same
// blocks: the commands that come before a block are applied just before it is rendered,
// as input events land between two completions in the running program.
class ScorePlayer {
public:
    // The renderer and the score must outlive the player.
    ScorePlayer(OfflineRenderer& renderer, const score::Score& score);

    // Applies the commands up to the next block, renders it into block (kBlockSamples
    // samples) and returns true. Once no block is left it applies the commands that
    // follow the last one and returns false.
    bool NextBlock(std::int16_t* block);

    // Takes the bytes of one block at a time; an error stops the playing.
    using ByteSink = std::function<Status(std::string_view bytes)>;

    // Renders every block left and hands them to sink as signed 16-bit little-endian
    // samples; the sink's error, if it fails.
    Status PlayTo(const ByteSink& sink);
    // The same into a stream. Stops early when out fails; the caller checks it.
    void PlayTo(std::ostream& out);

private:
    OfflineRenderer& renderer_;
    const score::Score& score_;
    std::size_t nextCommand_ = 0;
    std::uint64_t blocksLeft_ = 0; // of the render command being played
};

} // namespace morvane
