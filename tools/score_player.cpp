#include "tools/score_player.h"

#include <array>
#include <ostream>

#include "audio/wav_recorder.h"
#include "base/little_endian.h"

namespace morvane {

ScorePlayer::ScorePlayer(OfflineRenderer& renderer, const score::Score& score)
    : renderer_(renderer), score_(score) {}

bool ScorePlayer::NextBlock(std::int16_t* block) {
    while (blocksLeft_ == 0) {
        if (nextCommand_ == score_.commands.size())
            return false;
        blocksLeft_ = renderer_.Apply(score_.commands[nextCommand_++]);
    }
    --blocksLeft_;
    renderer_.RenderNextBlock(block);
    return true;
}

Status ScorePlayer::PlayTo(const ByteSink& sink) {
    std::array<std::int16_t, kBlockSamples> block{};
    std::array<char, kBlockBytes> bytes{};
    while (NextBlock(block.data())) {
        for (int n = 0; n < kBlockSamples; ++n)
            StoreLittleEndian(static_cast<std::uint16_t>(block[n]), &bytes[2 * n]);
        if (Status written = sink({bytes.data(), bytes.size()}); !written)
            return written;
    }
    return {};
}

void ScorePlayer::PlayTo(std::ostream& out) {
    // The stream keeps its own failure; the sink's error only ends the playing.
    static_cast<void>(PlayTo([&out](std::string_view bytes) {
        return out.write(bytes.data(), bytes.size()) ? Status() : Error{"stream failed"};
    }));
}

} // namespace morvane
