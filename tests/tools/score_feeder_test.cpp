#include "tools/score_feeder.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "engine/block_renderer.h"
#include "render_fixture.h"

using namespace morvane;
using namespace morvane::render_fixture;

namespace {

using Block = std::array<std::int16_t, kBlockSamples>;

struct ScorePlayed {
    std::vector<Block> blocks;
    std::unique_ptr<RealtimePlayer> player;
};

// Every block of the score, pulled at the render's own pace.
ScorePlayed Play(const score::Score& score, const RenderStart& start = FreshStart()) {
    ScorePlayed played{
        {},
        std::move(*RealtimePlayer::Create(start.sound, RealtimePlayer::Pace::Scored, kSampleRate))};
    ScoreFeeder feeder(start, score);
    Block block{};
    while (NextScoreBlock(*played.player, feeder, block.data()))
        played.blocks.push_back(block);
    // The end stays the end.
    EXPECT_FALSE(NextScoreBlock(*played.player, feeder, block.data()));
    return played;
}

ScorePlayed Play(const std::string& text) {
    return Play(ScoreOf(text));
}

} // namespace

// Each command reaches the engine between the blocks it stands between, as the panel and
// the keys would send it, those after the last block too.
TEST(ScoreFeeder, CommandsReachTheEngineBetweenTheirBlocks) {
    const ScorePlayed played = Play("param TUNING 4700\nparam MOD_TYPE 1\nparam WAVE2_DETUNE 1\n"
                                    "param VCF_CUTOFF 66\nctrl 1\non 4\non 9\noff 9\nrender 2\n"
                                    "on 12\n");
    const SynthState& s = played.player->State();
    EXPECT_EQ(s.Tuning, 4700);
    EXPECT_EQ(s.TuningRatio, 1.0681819f);
    EXPECT_TRUE(s.ModSquare);
    EXPECT_TRUE(s.ChorusChecked);
    EXPECT_EQ(s.CutoffHz, 1052);
    EXPECT_TRUE(s.CtrlHeld);
    EXPECT_EQ(played.blocks.size(), 2u);
    // Released at once, key 9 fell silent within the first block and freed its voice;
    // key 12 came after the last block and takes the front of the voice order.
    EXPECT_EQ(s.Voices[s.VoiceOrder[0]].Key, 12);
    EXPECT_EQ(s.Voices[s.VoiceOrder[1]].Key, 4);
    EXPECT_EQ(s.VoiceOrder[2], -1);
}

// More commands between two blocks than the player's queue holds still all land before
// the block, which renders as the engine does with them applied straight.
TEST(ScoreFeeder, MoreCommandsThanTheQueueHoldsLandBeforeTheirBlock) {
    std::string text = "on 4\n";
    const int moves = static_cast<int>(RealtimePlayer::kEventCapacity) * 3 / 2;
    for (int i = 0; i < moves; ++i)
        text += "param VCF_CUTOFF " + std::to_string(i % 101) + "\n";
    text += "render 3\n";
    const ScorePlayed played = Play(text);

    std::unique_ptr<SynthState> direct = std::make_unique<SynthState>();
    InitialiseRunningState(*direct);
    static_cast<SoundParameters&>(*direct) = FreshStart().sound;
    Instrument instrument(*direct);
    instrument.Apply(KeyDown{4});
    instrument.Apply(SetControl{VcfCutoff, (moves - 1) % 101});
    std::vector<Block> expected(3);
    for (Block& block : expected)
        RenderBlock(*direct, block.data());
    EXPECT_EQ(played.blocks, expected);
}

// A score's program change loads the preset the start read from the settings file.
TEST(ScoreFeeder, ProgramChangesLoadTheStartsPresets) {
    ScratchDirectory dir;
    std::string ini = dir / "morvane.ini";
    WriteBytes(ini, "[PRESET5]\nVCF_CUTOFF=100\n");
    const Result<RenderStart> start = StartFrom(ini, 0);
    ASSERT_TRUE(start.ok());

    EXPECT_EQ(start->sound.CutoffHz, 348);
    const score::Score score{{Command{LoadProgram{5}}, RenderBlocks{1}}, 1};
    EXPECT_EQ(Play(score, *start).player->State().CutoffHz, 11025);
}

// wait places what follows it at any sample, render N is wait 441 x N, and a score that
// ends inside a block has that block rendered to its end.
TEST(ScoreFeeder, WaitPlacesCommandsAtAnySample) {
    struct Case {
        const char* text;
        std::vector<std::pair<int, Command>> commands; // at their samples
        int blocks;
    };
    const Case cases[] = {
        {"on 4\nrender 3\n", {{0, KeyDown{4}}}, 3},
        {"on 4\nwait 1323\n", {{0, KeyDown{4}}}, 3},
        {"wait 100\non 4 90\nwait 782\noff 4\nbend 3000\nwait 441\n",
         {{100, KeyDown{4, 90}}, {882, KeyUp{4}}, {882, BendPitch{3000}}},
         3},
        {"on 4\nwait 1\non 9\nwait 439\nwait 1\noff 4\nwait 60\n",
         {{0, KeyDown{4}}, {1, KeyDown{9}}, {441, KeyUp{4}}},
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const ScorePlayed played = Play(c.text);
        std::unique_ptr<SynthState> direct = std::make_unique<SynthState>();
        InitialiseRunningState(*direct);
        static_cast<SoundParameters&>(*direct) = FreshStart().sound;
        Instrument instrument(*direct);
        StreamRenderer renderer;
        std::vector<Block> expected(static_cast<std::size_t>(c.blocks));
        std::int16_t* out = expected.front().data();
        int at = 0;
        for (const auto& [sample, command] : c.commands) {
            renderer.Render(*direct, out + at, sample - at);
            at = sample;
            instrument.Apply(command);
            renderer.Cut();
        }
        renderer.Render(*direct, out + at, c.blocks * kBlockSamples - at);
        EXPECT_EQ(played.blocks, expected);
    }
}
