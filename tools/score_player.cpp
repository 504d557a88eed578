#include "tools/score_player.h"

#include <array>
#include <ostream>

#include "audio/wav_recorder.h"

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

void ScorePlayer::PlayTo(std::ostream& out) {
    std::array<std::int16_t, kBlockSamples> block{};
    std::array<char, kBlockBytes> bytes{};
    while (out && NextBlock(block.data())) {
        for (int n = 0; n < kBlockSamples; ++n) {
            auto sample = static_cast<std::uint16_t>(block[n]);
            bytes[2 * n] = static_cast<char>(sample & 0xFF);
            bytes[2 * n + 1] = static_cast<char>(sample >> 8);
        }
        out.write(bytes.data(), bytes.size());
    }
}

} // namespace morvane
