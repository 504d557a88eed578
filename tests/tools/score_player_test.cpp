#include "tools/score_player.h"

#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <vector>

#include "render_fixture.h"

using namespace morvane;
using namespace morvane::render_fixture;

namespace {

using Block = std::array<std::int16_t, kBlockSamples>;

std::vector<Block> BlocksOf(ScorePlayer& player) {
    std::vector<Block> blocks;
    Block block{};
    while (player.NextBlock(block.data()))
        blocks.push_back(block);
    return blocks;
}

// The blocks of a renderer driven command by command, in the order the score lists them.
class ByHand {
public:
    ByHand() { renderer.StartFresh(); }
    ByHand& Do(const std::string& line) {
        score::Score one = ScoreOf(line);
        renderer.Apply(one.commands.at(0));
        return *this;
    }
    ByHand& Render(int count) {
        for (int i = 0; i < count; ++i) {
            blocks.emplace_back();
            renderer.RenderNextBlock(blocks.back().data());
        }
        return *this;
    }
    OfflineRenderer renderer;
    std::vector<Block> blocks;
};

} // namespace

TEST(ScorePlayer, AppliesEachCommandBetweenTheBlocksItStandsBetween) {
    score::Score score = ScoreOf("on 4\nrender 2\nparam TUNING 4600\noff 4\non 9\n"
                                 "render 0\nrender 3\nctrl 1\n");
    OfflineRenderer renderer;
    renderer.StartFresh();
    ScorePlayer player(renderer, score);
    std::vector<Block> played = BlocksOf(player);

    ByHand expected;
    expected.Do("on 4").Render(2).Do("param TUNING 4600").Do("off 4").Do("on 9").Render(3);
    ASSERT_EQ(played.size(), 5u);
    EXPECT_EQ(played, expected.blocks);
    EXPECT_NE(played[1], played[2]); // the commands between them changed the sound

    // The commands after the last block are applied too, and the end stays the end.
    EXPECT_TRUE(renderer.State().CtrlHeld);
    Block block{};
    EXPECT_FALSE(player.NextBlock(block.data()));
}

TEST(ScorePlayer, AScoreWithoutBlocksEndsAtOnceHavingAppliedEverything) {
    score::Score score = ScoreOf("param TUNING 4300\nrender 0\non 7\n");
    OfflineRenderer renderer;
    renderer.StartFresh();
    ScorePlayer player(renderer, score);
    Block block{};
    EXPECT_FALSE(player.NextBlock(block.data()));
    EXPECT_EQ(renderer.State().Tuning, 4300);
    EXPECT_EQ(renderer.State().Voices[renderer.State().VoiceOrder[0]].Key, 7);
}

TEST(ScorePlayer, WritesTheBlocksAsLittleEndianSamples) {
    score::Score score = ScoreOf(kChordScore);
    OfflineRenderer stepped;
    stepped.StartFresh();
    ScorePlayer stepper(stepped, score);
    std::vector<Block> blocks = BlocksOf(stepper);

    OfflineRenderer written;
    written.StartFresh();
    std::ostringstream out;
    ScorePlayer(written, score).PlayTo(out);
    std::string bytes = out.str();
    ASSERT_EQ(bytes.size(), blocks.size() * kBlockSamples * 2);
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const std::int16_t sample = blocks[i / 2 / kBlockSamples][i / 2 % kBlockSamples];
        auto low = static_cast<std::uint8_t>(bytes[i]);
        auto high = static_cast<std::uint8_t>(bytes[i + 1]);
        ASSERT_EQ(static_cast<std::int16_t>(low | high << 8), sample) << "sample " << i / 2;
    }
}
